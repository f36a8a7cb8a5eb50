#pragma once
// Text for the debugger. There is no debugger here: the text goes to a sink that tests read
// (Win32Test/DebugOutputSink.h) and, when asked, to stderr.

#include "win32/Types.h"

void WINAPI OutputDebugStringA(LPCSTR text);
void WINAPI OutputDebugStringW(LPCWSTR text);
