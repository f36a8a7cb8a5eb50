#pragma once
// The Win32 API as the panel uses it, gathered by area.

#include "win32/Console.h"
#include "win32/DebugOutput.h"
#include "win32/FileApi.h"
#include "win32/GlobalMemory.h"
#include "win32/LastError.h"
#include "win32/LibraryLoader.h"
#include "win32/ModuleFileName.h"
#include "win32/Registry.h"
#include "win32/Resources.h"
#include "win32/ResultCodes.h"
#include "win32/Sleep.h"
#include "win32/Time.h"
#include "win32/Types.h"
#include "win32/Window.h"
