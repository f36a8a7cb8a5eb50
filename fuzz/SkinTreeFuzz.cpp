// Skin documents built into control trees: any bytes are read as a skin document, every
// top-level control of every skin is built (each class a base LControl, through the full
// creation sequence; classes beginning with "U" stay unregistered so that failing creations are
// exercised too), laid out as a root window lays out its root control at 1024 x 768, drawn with
// its overlay controls into a small window through GDI+, and released again. Nothing may crash, and
// once a tree is released no control, look, visual part or cached bitmap may be left.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <ostream>
#include <set>
#include <streambuf>

#include "Application/ControlCreateFunction.h"
#include "Application/FrameworkApp.h"
#include "ControlBase/Control.h"
#include "ControlBase/ControlFactory.h"
#include "ControlBase/LayoutDescriptor.h"
#include "ControlBase/LayoutEngine.h"
#include "ControlBase/Look.h"
#include "ControlBase/RectRegion.h"
#include "ControlBase/VisualPart.h"
#include "Renderer/Gdi/GDIRenderer.h"
#include "System/DebugOutput.h"
#include "Utilities/Graphics/Bitmap.h"
#include "Win32Test/HeadlessWindow.h"
#include "gdiplus.h"

namespace {

// The debug channel says which sub-controls failed; nobody reads it here.
class NullBuffer : public std::streambuf
{
protected:
    int overflow(int c) override { return c; }
};

struct Environment
{
    Environment() : silent(&buffer)
    {
        Gdiplus::GdiplusStartupInput input;
        Gdiplus::GdiplusStartup(&token, &input, nullptr);
        Orv::GetDebugLogTarget().narrowOutput = &silent;
        application = Orv::RCPtr<Orv::LFrameworkApp>(new Orv::LFrameworkApp());
        window = Win32Test::CreateHeadlessWindow(kSurfaceWidth, kSurfaceHeight);
    }

    static constexpr int kSurfaceWidth = 160;
    static constexpr int kSurfaceHeight = 120;

    NullBuffer buffer;
    std::ostream silent;
    ULONG_PTR token = 0;
    Orv::RCPtr<Orv::LFrameworkApp> application;
    HWND window = nullptr;
};

void RegisterClasses(Orv::LControlFactory& factory, const Orv::LControlDescriptor& descriptor,
                     std::set<Orv::WideString>& seen)
{
    const Orv::WideString& className = descriptor.className;
    if (seen.insert(className).second && !className.IsEmpty() && className.GetText()[0] != u'U') {
        factory.RegisterControlCreateFunction(className,
                                              &Orv::ControlCreateFunction<Orv::LControl>);
    }
    for (uint32_t index = 0; index < descriptor.subControls.GetCount(); ++index) {
        if (const auto& child = descriptor.subControls.GetData()[index]) {
            RegisterClasses(factory, *child, seen);
        }
    }
}

// The root window's pass: the root fills the client area, the engine places it and SetRect
// carries the change to every descendant.
void LayOutAsRootWindow(Orv::LControl& root)
{
    if (!root.GetLayout()) {
        return;
    }
    Orv::AxisPositionSpec position;
    Orv::AxisSizeSpec size;
    size.reference = Orv::kSizeToClient;
    size.rel = 1.0f;
    root.SetLayoutPlacement(position, size, position, size);
    Orv::RectD resolved;
    Orv::ResolveLayout(root.GetLayout().Get(), nullptr, Orv::RectD{0, 0, 1920, 1040},
                       Orv::PointD{1024, 768}, Orv::PointD{}, resolved);
    Orv::PointD at{resolved.x, resolved.y};
    Orv::PointD extent{resolved.width, resolved.height};
    Orv::ApplyLayoutMinSize(root, at, extent);
    Orv::ApplyLayoutMaxSize(root, at, extent);
    Orv::RectD snapped{at.x, at.y, extent.x, extent.y};
    snapped.SnapToPixels();
    root.SetRect(Orv::PointD{snapped.x, snapped.y}, Orv::PointD{snapped.width, snapped.height});
    Orv::RectL bounds;
    root.ChildrenBounds(bounds);
}

// Where a control's local origin lies in the window.
Orv::PointD WindowOrigin(const Orv::LControl& control)
{
    Orv::PointD origin{control.GetRect().x, control.GetRect().y};
    for (const Orv::LControl* at = &control; at->GetParent(); at = at->GetParent().Get()) {
        const Orv::LControl& parent = *at->GetParent();
        const Orv::RectD client = parent.GetClientRect(-1);
        origin.x += parent.GetRect().x + client.x - parent.GetScrollOffset().x;
        origin.y += parent.GetRect().y + client.y - parent.GetScrollOffset().y;
    }
    return origin;
}

// A paint pass of the whole window: the tree, then its overlay controls (and theirs) from
// their parents' content origins. The renderer goes with the pass, its cached bitmaps with it.
void DrawAsRootWindow(Orv::LControl& root, HWND window)
{
    Orv::RCPtr<Orv::LGDIRenderer> renderer(new Orv::LGDIRenderer());
    Orv::RCPtr<Orv::LRenderContextInfo> context;
    if (renderer->InitRenderContextInfo(
            {0, 0, Environment::kSurfaceWidth, Environment::kSurfaceHeight}, window, 0, context) !=
        S_OK) {
        std::abort();
    }
    context->GetDirtyRegion().AddRect(0, 0, Environment::kSurfaceWidth,
                                      Environment::kSurfaceHeight);
    renderer->RenderStart(context);
    Orv::RCPtrArray<Orv::LControl> overlays;
    root.Draw(*renderer, context->GetDirtyRegion(), overlays, false);
    // An overlay control collects its own overlay children; a hostile tree cannot loop because
    // each control is drawn at most once per pass.
    std::set<const Orv::LControl*> drawn;
    for (uint32_t index = 0; index < overlays.GetCount() && index < 10000; ++index) {
        const Orv::RCPtr<Orv::LControl> overlay = overlays.GetData()[index];
        if (!drawn.insert(overlay.Get()).second) {
            continue;
        }
        const Orv::PointD origin = WindowOrigin(*overlay);
        renderer->PushClip();
        renderer->PushClip(
            Orv::PointD{origin.x - overlay->GetRect().x, origin.y - overlay->GetRect().y});
        overlay->Draw(*renderer, context->GetDirtyRegion(), overlays, true);
        renderer->PopClip();
        renderer->PopClip();
    }
    renderer->RenderFinish(context);
}

void ExpectNothingAlive()
{
    if (Orv::LControl::GetLiveCount() != 0 || Orv::LLook::GetLiveCount() != 0 ||
        Orv::LVisualPart::GetLiveCount() != 0 || Orv::GetBitmapCacheCount() != 0) {
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static Environment environment;
    if (size == 0) {
        return 0;
    }
    Orv::RCPtr<Orv::LControlFactory> factory(new Orv::LControlFactory(u"Quorvel"));
    // Images as resources of a program that has none: a document never reaches the file system.
    factory->SetBasePath(u"::");
    factory->ParseXml(reinterpret_cast<const char*>(data), size);
    environment.application->SetControlFactory(factory);

    std::set<Orv::WideString> seen;
    const auto& skins = factory->GetSkins();
    for (uint32_t skin = 0; skin < skins.GetCount(); ++skin) {
        if (skins.GetData()[skin]) {
            RegisterClasses(*factory, *skins.GetData()[skin], seen);
        }
    }
    for (uint32_t skin = 0; skin < skins.GetCount(); ++skin) {
        factory->currentSkinIndex = static_cast<int32_t>(skin);
        const auto& root = skins.GetData()[skin];
        for (uint32_t index = 0; root && index < root->subControls.GetCount(); ++index) {
            const Orv::WideString name = root->subControls.GetData()[index]->name;
            try {
                Orv::RCPtr<Orv::LControl> control = factory->CreateControlByName(name, nullptr);
                if (control) {
                    LayOutAsRootWindow(*control);
                    DrawAsRootWindow(*control, environment.window);
                }
            } catch (const Orv::ExceptionBase&) {
                // An unregistered top-level class: the factory lets it pass, nothing was made.
            }
            ExpectNothingAlive();
        }
    }
    environment.application->SetControlFactory(nullptr);
    return 0;
}
