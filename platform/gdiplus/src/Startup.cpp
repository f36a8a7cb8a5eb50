#include <atomic>

#include "GdiplusObjects.h"
#include "gdiplus/GdiplusFlat.h"

namespace Gdiplus {
namespace {

std::atomic<int> startCount{0};
std::atomic<ULONG_PTR> lastToken{0};

}  // namespace

bool IsStarted()
{
    return startCount.load() > 0;
}

GpStatus GdiplusStartup(ULONG_PTR* token, const GdiplusStartupInput* input,
                        GdiplusStartupOutput* output)
{
    if (token == nullptr || input == nullptr) {
        return InvalidParameter;
    }
    if (input->GdiplusVersion != 1) {
        return UnsupportedGdiplusVersion;
    }
    // Without a background thread the caller must hook notifications; there is nothing to hook.
    if (input->SuppressBackgroundThread && output != nullptr) {
        output->NotificationHook = nullptr;
        output->NotificationUnhook = nullptr;
    }
    *token = ++lastToken;
    ++startCount;
    return Ok;
}

void GdiplusShutdown(ULONG_PTR token)
{
    if (token != 0 && startCount.load() > 0) {
        --startCount;
    }
}

GpStatus FromCairo(cairo_status_t status)
{
    switch (status) {
        case CAIRO_STATUS_SUCCESS:
            return Ok;
        case CAIRO_STATUS_NO_MEMORY:
            return OutOfMemory;
        case CAIRO_STATUS_INVALID_SIZE:
        case CAIRO_STATUS_INVALID_MATRIX:
            return InvalidParameter;
        default:
            return GenericError;
    }
}

}  // namespace Gdiplus
