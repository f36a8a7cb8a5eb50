#pragma once
// The skin classes the scroll view's library builds: "Framework.Panel",
// "Framework.ScrollChannel" and "Framework.ComboSlider.DropDownPanel" as panels,
// "Framework.ScrollBar" as the scroll bar. The application's class table registers them here.

#include "ControlBase/ControlFactory.h"

namespace Orv {

// 0, or the first refusal of the factory.
ORVRESULT RegisterScrollViewClasses(LControlFactory& factory);

}  // namespace Orv
