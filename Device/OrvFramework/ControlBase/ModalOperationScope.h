#pragma once
// CModalOperationScope: a long operation on the UI thread (a skin switch) shows the wait cursor
// and a status text for its length, and lets one idle pass run first so the text is seen.

#include "ControlBase/RootWindow.h"
#include "Utilities/Storage/StringT.h"
#include "win32/Window.h"

namespace Orv {

class CModalOperationScope
{
public:
    // On the active root window, else the first; without any window only the status text.
    explicit CModalOperationScope(const WideString& statusText);
    ~CModalOperationScope();
    CModalOperationScope(const CModalOperationScope&) = delete;
    CModalOperationScope& operator=(const CModalOperationScope&) = delete;

private:
    RCPtr<LRootWindow> window;
    HCURSOR previousCursor = nullptr;
};

}  // namespace Orv
