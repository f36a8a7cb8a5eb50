#include "ControlBase/ModalOperationScope.h"

#include "Application/FrameworkApp.h"

namespace Orv {

CModalOperationScope::CModalOperationScope(const WideString& statusText)
{
    LFrameworkApp* app = GetFrameworkApp();
    if (!app) {
        return;
    }
    window = app->GetActiveRootWindow();
    if (!window) {
        window = app->GetRootWindow(0);
    }
    if (window) {
        previousCursor = window->SetCursor(app->GetCursor(u"UI_CURSOR_WAIT"));
    }
    app->SetStatusText(statusText, true);
    app->OnIdle(true);
}

CModalOperationScope::~CModalOperationScope()
{
    if (window) {
        window->SetCursor(previousCursor);
    }
    if (LFrameworkApp* app = GetFrameworkApp()) {
        app->ResetStatusText(false);
    }
}

}  // namespace Orv
