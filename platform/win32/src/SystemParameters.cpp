#include "win32/SystemParameters.h"

#include "WindowModel.h"
#include "win32/LastError.h"

using namespace Win32Detail;

BOOL WINAPI SystemParametersInfoW(UINT action, UINT, void* pvParam, UINT)
{
    if (action != SPI_GETWORKAREA || pvParam == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    Model& model = TheModel();
    std::lock_guard guard(model.lock);
    *static_cast<RECT*>(pvParam) = model.workArea;
    return TRUE;
}
