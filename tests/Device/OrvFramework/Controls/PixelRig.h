#pragma once
// The rig's pixel mode: a headless window painted by the GDI+ renderer through the root window,
// pixels probed one by one, and the whole window written as a PNG beside the test program.

#include <cairo.h>

#include <cstring>
#include <string>
#include <vector>

#include "ControlLibraryRig.h"
#include "Renderer/Gdi/GDIRenderer.h"
#include "Renderer/RenderContextInfo.h"
#include "Win32Test/HeadlessWindow.h"

namespace ControlLibraryTest {

class PixelRig : public ControlLibraryRig
{
protected:
    void TearDown() override
    {
        // The renderer's GDI+ objects go before GDI+ shuts down.
        if (recorder) {
            recorder->UnregisterAll();
        }
        CloseWindow();
        context = nullptr;
        renderer = nullptr;
        if (surface != nullptr) {
            Win32Test::DestroyHeadlessWindow(surface);
            surface = nullptr;
        }
        ControlLibraryRig::TearDown();
    }

    // The top-level control in a window of that size over a GDI+ renderer.
    void OpenPainted(const char16_t* name, PointL client)
    {
        size = client;
        surface = Win32Test::CreateHeadlessWindow(client.x, client.y);
        renderer = RCPtr<Orv::LGDIRenderer>(new Orv::LGDIRenderer());
        RCPtr<Orv::LRenderContextInfo> created;
        ASSERT_EQ(renderer->InitRenderContextInfo({0, 0, client.x, client.y}, surface, 0, created),
                  S_OK);
        context = created;
        Open(name, client, RCPtr<Orv::LRenderer>(renderer.Get()));
    }

    // One paint of the whole window, as the host asks for one.
    void Paint()
    {
        window->InvalidateAll();
        window->PaintContext(context, Orv::RectL{0, 0, size.x, size.y});
    }

    // 0xRRGGBB of a window pixel.
    uint32_t Probe(PointL at) const
    {
        return Win32Test::GetWindowPixel(surface, at.x, at.y) & 0xFFFFFFu;
    }

    void WritePng(const std::string& path) const
    {
        cairo_surface_t* image = cairo_image_surface_create(CAIRO_FORMAT_RGB24, size.x, size.y);
        cairo_surface_flush(image);
        unsigned char* data = cairo_image_surface_get_data(image);
        const int stride = cairo_image_surface_get_stride(image);
        for (int y = 0; y < size.y; ++y) {
            auto* row = reinterpret_cast<uint32_t*>(data + static_cast<ptrdiff_t>(y) * stride);
            for (int x = 0; x < size.x; ++x) {
                row[x] = Win32Test::GetWindowPixel(surface, x, y);
            }
        }
        cairo_surface_mark_dirty(image);
        EXPECT_EQ(cairo_surface_write_to_png(image, path.c_str()), CAIRO_STATUS_SUCCESS);
        cairo_surface_destroy(image);
    }

    HWND surface = nullptr;
    PointL size{0, 0};
    RCPtr<Orv::LGDIRenderer> renderer;
    RCPtr<Orv::LRenderContextInfo> context;
};

}  // namespace ControlLibraryTest
