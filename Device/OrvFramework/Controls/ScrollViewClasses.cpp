// The create functions of the panel's skin classes and of the scroll bar.

#include "Controls/ScrollViewClasses.h"

#include "Application/ControlCreateFunction.h"
#include "Controls/Panel.h"
#include "Controls/Scrollbar.h"

namespace Orv {

ORVRESULT RegisterScrollViewClasses(LControlFactory& factory)
{
    for (const char16_t* className :
         {u"Framework.Panel", u"Framework.ScrollChannel", u"Framework.ComboSlider.DropDownPanel"}) {
        const ORVRESULT result =
            factory.RegisterControlCreateFunction(className, &ControlCreateFunction<LPanel>);
        if (ORV_FAILED(result)) {
            return result;
        }
    }
    return factory.RegisterControlCreateFunction(u"Framework.ScrollBar",
                                                 &ControlCreateFunction<LScrollbar>);
}

}  // namespace Orv
