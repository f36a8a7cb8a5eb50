#pragma once
// The bitmap's failures: their texts name the bitmap's source file and the line by which users
// and logs have always known each failure, wherever in this folder the check now sits.

#include "ObjectBase/Exception.h"

#define ORV_THROW_BITMAP_ERROR(kind, line) \
    ::Orv::ThrowException(                 \
        ::Orv::ExceptionKind::kind, {},    \
        ::Orv::ThrowSite{__PRETTY_FUNCTION__, "Utilities\\Graphics\\Bitmap", (line)})
