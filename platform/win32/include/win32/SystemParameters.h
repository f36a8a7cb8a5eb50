#pragma once
// System parameters: the work area of the desktop.

#include "win32/Window.h"

inline constexpr UINT SPI_GETWORKAREA = 0x0030;

// SPI_GETWORKAREA: the work area (a RECT, screen coordinates) into pvParam. FALSE with
// ERROR_INVALID_PARAMETER for any other action or a null pvParam.
BOOL WINAPI SystemParametersInfoW(UINT action, UINT uiParam, void* pvParam, UINT winIni);

#define SystemParametersInfo SystemParametersInfoW
