// The application's control factory and the default font controls fall back on.

#include "Application/FrameworkApp.h"

#include <cmath>
#include "ControlBase/ControlFactory.h"
#include "Utilities/Graphics/Font.h"

namespace Orv {

struct LFrameworkApp::ControlServices
{
    RCPtr<LControlFactory> factory;
    ConstRCPtr<LFont> defaultFont;
};

LFrameworkApp::ControlServices& LFrameworkApp::Services()
{
    if (controlServices == nullptr) {
        controlServices = new ControlServices();
        dropControlServices = &DropControlServices;
    }
    return *controlServices;
}

void LFrameworkApp::DropControlServices(ControlServices* services)
{
    delete services;
}

const RCPtr<LControlFactory>& LFrameworkApp::GetControlFactory() const
{
    static const RCPtr<LControlFactory> none;
    return controlServices != nullptr ? controlServices->factory : none;
}

void LFrameworkApp::SetControlFactory(const RCPtr<LControlFactory>& factory)
{
    Services().factory = factory;
}

void LFrameworkApp::SetDefaultFont(const ConstRCPtr<LFont>& font)
{
    Services().defaultFont = font;
}

ConstRCPtr<LFont> LFrameworkApp::GetDefaultFont() const
{
    if (controlServices != nullptr && controlServices->defaultFont) {
        return controlServices->defaultFont;
    }
    const RCPtr<LControlFactory>& controlFactory = GetControlFactory();
    WideString name(u"Arial");
    float size = 9.0f;
    int32_t style = 0;
    if (controlFactory) {
        controlFactory->GetSkinFont(name, size, style);
    }
    // A skin's size is any float of 1 or more; renderers turn it into pixels.
    constexpr float kMaxFontSize = 1000.0f;
    if (!std::isfinite(size) || size > kMaxFontSize) {
        size = kMaxFontSize;
    }
    return GetFont(name, size, style);
}

}  // namespace Orv
