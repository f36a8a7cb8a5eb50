#pragma once
// Opens a document or a link with the desktop's handler for it.

#include "ObjectBase/OrvResult.h"
#include "Utilities/Storage/StringT.h"

namespace Orv {

// 0 when the handler was started; E_FAIL when none was, and for a text that starts with "-"
// (the opener would read it as an option of its own).
ORVRESULT OpenWithShell(const WideString& text);

}  // namespace Orv
