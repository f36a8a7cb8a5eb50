#pragma once
// GDI+ as the panel uses it: the flat API on Cairo.

#include "gdiplus/GdiplusFlat.h"
#include "gdiplus/GdiplusText.h"
#include "gdiplus/GdiplusTypes.h"
