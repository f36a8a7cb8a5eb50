#pragma once
// The program's control tree for benchmarks: GDI+, the application, its factory with every class
// of the skin document as a base control, and the tree of skin 0, its root made to fill the
// window's client area, laid out as the root window lays out its root.

#include <regex>
#include <set>
#include <string>
#include <vector>

#include "Application/ControlCreateFunction.h"
#include "Application/FrameworkApp.h"
#include "ControlBase/Control.h"
#include "ControlBase/ControlFactory.h"
#include "ControlBase/DocumentBytes.h"
#include "ControlBase/LayoutDescriptor.h"
#include "ControlBase/LayoutEngine.h"
#include "gdiplus.h"

namespace BenchSupport {

using Orv::LControl;
using Orv::PointD;
using Orv::RCPtr;
using Orv::RectD;

class ProductTree
{
public:
    ProductTree()
    {
        Gdiplus::GdiplusStartupInput input;
        Gdiplus::GdiplusStartup(&token, &input, nullptr);
        application = RCPtr<Orv::LFrameworkApp>(new Orv::LFrameworkApp());
        factory = RCPtr<Orv::LControlFactory>(new Orv::LControlFactory(u"Quorvel"));
        application->SetControlFactory(factory);
        if (factory->LoadSkinsAndStrings(u"::", 0x0409) != 0) {
            return;
        }
        std::vector<uint8_t> bytes;
        if (Orv::ReadDocumentBytes(u"::APP_SKINS", bytes) != Orv::DocumentRead::Done) {
            return;
        }
        const std::string document(bytes.begin(), bytes.end());
        const std::regex classAttribute("Class=\"([^\"]+)\"");
        std::set<std::string> classes;
        for (std::sregex_iterator it(document.begin(), document.end(), classAttribute), end;
             it != end; ++it) {
            classes.insert((*it)[1].str());
        }
        for (const std::string& className : classes) {
            factory->RegisterControlCreateFunction(Orv::WideString(className.c_str()).GetText(),
                                                   &Orv::ControlCreateFunction<LControl>);
        }
        factory->currentSkinIndex = 0;
        root = factory->CreateControlByName(u"mainControl", nullptr);
        if (!root) {
            return;
        }
        Orv::AxisPositionSpec position;
        Orv::AxisSizeSpec size;
        size.reference = Orv::kSizeToClient;
        size.rel = 1.0f;
        root->SetLayoutPlacement(position, size, position, size);
        Collect(*root);
    }

    ~ProductTree()
    {
        controls.clear();
        root = nullptr;
        application->SetControlFactory(nullptr);
        factory = nullptr;
        application = nullptr;
        Gdiplus::GdiplusShutdown(token);
    }

    ProductTree(const ProductTree&) = delete;
    ProductTree& operator=(const ProductTree&) = delete;

    // The root window's pass for a client size.
    void LayOut(double width, double height)
    {
        RectD resolved;
        Orv::ResolveLayout(root->GetLayout().Get(), nullptr, RectD{0, 0, 1920, 1040},
                           PointD{width, height}, PointD{}, resolved);
        PointD at{resolved.x, resolved.y};
        PointD extent{resolved.width, resolved.height};
        Orv::ApplyLayoutMinSize(*root, at, extent);
        Orv::ApplyLayoutMaxSize(*root, at, extent);
        RectD snapped{at.x, at.y, extent.x, extent.y};
        snapped.SnapToPixels();
        root->SetRect(PointD{snapped.x, snapped.y}, PointD{snapped.width, snapped.height});
    }

    RCPtr<LControl> root;
    std::vector<LControl*> controls;  // every control but the root, in tree order

private:
    void Collect(LControl& control)
    {
        for (uint32_t index = 0; index < control.GetChildren().GetCount(); ++index) {
            LControl* child = control.GetChildren()
                                  .GetAt(index, LControl::ChildControlList::kInsertionOrder)
                                  .Get();
            controls.push_back(child);
            Collect(*child);
        }
    }

    ULONG_PTR token = 0;
    RCPtr<Orv::LFrameworkApp> application;
    RCPtr<Orv::LControlFactory> factory;
};

}  // namespace BenchSupport
