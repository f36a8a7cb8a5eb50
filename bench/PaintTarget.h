#pragma once
// A paint target for benchmarks: a headless window of 1024 x 768 with the GDI+ renderer and its
// double-buffered context.

#include "ObjectBase/RCPtr.h"
#include "Renderer/Gdi/GDIRenderContextInfo.h"
#include "Renderer/Gdi/GDIRenderer.h"
#include "Win32Test/HeadlessWindow.h"

namespace BenchSupport {

class PaintTarget
{
public:
    static constexpr int kWidth = 1024;
    static constexpr int kHeight = 768;

    PaintTarget() : window(Win32Test::CreateHeadlessWindow(kWidth, kHeight))
    {
        renderer = Orv::RCPtr<Orv::LGDIRenderer>(new Orv::LGDIRenderer());
        renderer->InitRenderContextInfo({0, 0, kWidth, kHeight}, window, 0, context);
    }
    ~PaintTarget()
    {
        context = nullptr;
        renderer = nullptr;
        Win32Test::DestroyHeadlessWindow(window);
    }
    PaintTarget(const PaintTarget&) = delete;
    PaintTarget& operator=(const PaintTarget&) = delete;

    void DirtyWhole()
    {
        context->GetDirtyRegion().Clear();
        context->GetDirtyRegion().AddRect(0, 0, kWidth, kHeight);
    }

    HWND window;
    Orv::RCPtr<Orv::LGDIRenderer> renderer;
    Orv::RCPtr<Orv::LRenderContextInfo> context;
};

}  // namespace BenchSupport
