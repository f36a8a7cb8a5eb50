#pragma once
// Result codes of the driver's data path: the platform's HRESULT-shaped codes (negative = failure).

#include <winerror.h>
