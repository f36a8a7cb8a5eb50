#include "ControlBase/OpenWithShell.h"

#include <cstdint>

#include "windows.h"

namespace Orv {

ORVRESULT OpenWithShell(const WideString& text)
{
    if (text.IsEmpty() || text.GetText()[0] == u'-') {
        return E_FAIL;
    }
    const HINSTANCE result =
        ShellExecuteW(nullptr, u"open", text.GetText(), nullptr, nullptr, SW_SHOWNORMAL);
    return reinterpret_cast<intptr_t>(result) <= 32 ? E_FAIL : S_OK;
}

}  // namespace Orv
