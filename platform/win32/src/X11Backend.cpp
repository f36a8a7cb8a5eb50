#include "WindowModel.h"

namespace Win32Detail {

// No display yet: windows stay headless.
Backend* OpenX11Backend(const char*)
{
    return nullptr;
}

}  // namespace Win32Detail
