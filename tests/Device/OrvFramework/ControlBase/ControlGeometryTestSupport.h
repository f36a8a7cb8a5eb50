#pragma once
// Small trees for geometry and drag tests: opaque controls that count their hooks, built as the
// factory builds them.

#include <string>

#include "ControlBase/ControlDescriptor.h"
#include "ControlBase/RootWindow.h"
#include "ControlTestSupport.h"

namespace ControlTest {

using Orv::LayoutValues;
using Orv::LControl;
using Orv::PointD;
using Orv::PointL;
using Orv::RCPtr;

// A control that is opaque everywhere (a base control without looks lets the pointer through)
// and counts its hooks.
class Solid : public LControl
{
public:
    using LControl::LControl;
    bool IsTransparentAt(int32_t, int32_t) override { return false; }
    void OnTick() override { ++ticks; }
    void OnScrollOffsetChanged(const PointD& oldOffset, const PointD& newOffset) override
    {
        scrolls += std::to_string(static_cast<int>(oldOffset.x)) + "," +
                   std::to_string(static_cast<int>(oldOffset.y)) + "->" +
                   std::to_string(static_cast<int>(newOffset.x)) + "," +
                   std::to_string(static_cast<int>(newOffset.y)) + ";";
    }
    int ticks = 0;
    std::string scrolls;
};

// Takes every drop and writes down the drag hooks in order.
class Acceptor : public Solid
{
public:
    using Solid::Solid;
    bool AcceptsDrop(const RCPtr<LControl>&) override { return true; }
    void OnDragEnter(const RCPtr<LControl>& dragged) override { Log("enter", dragged); }
    void OnDragOver(const RCPtr<LControl>& dragged, const PointD&) override
    {
        Log("over", dragged);
    }
    void OnDragLeave(const RCPtr<LControl>& dragged) override { Log("leave", dragged); }
    Orv::ORVRESULT OnDrop(const RCPtr<LControl>& dragged) override
    {
        Log("drop", dragged);
        return S_OK;
    }
    std::string log;

private:
    void Log(const char* what, const RCPtr<LControl>& dragged)
    {
        log += std::string(what) + " " + Narrow(dragged->GetName()) + ";";
    }
};

template <class T = Solid>
inline RCPtr<T> Make(const RCPtr<LControl>& parent, const char16_t* name, double x, double y,
                     double width, double height, void (*adjust)(LayoutValues&) = nullptr)
{
    RCPtr<Orv::LControlDescriptor> descriptor(new Orv::LControlDescriptor(u"Test", name, nullptr));
    RCPtr<Orv::LLayoutDescriptor> layout(new Orv::LLayoutDescriptor());
    layout->xPosition.abs = x;
    layout->yPosition.abs = y;
    layout->xSize.abs = width;
    layout->ySize.abs = height;
    if (adjust) {
        adjust(*layout);
    }
    descriptor->SetLayout(layout);
    RCPtr<LControl> control;
    Orv::ControlCreateFunction<T>(control, parent, descriptor);
    if (!parent) {
        control->SetRect(PointD{x, y}, PointD{width, height});
    }
    return RCPtr<T>(static_cast<T*>(control.Get()));
}

}  // namespace ControlTest
