#pragma once
// The MFC subset: command targets and message maps, windows, the application object.

#include <windows.h>

#include "mfc/Exceptions.h"
#include "mfc/MessageMap.h"
#include "mfc/WinApp.h"
#include "mfc/Wnd.h"
