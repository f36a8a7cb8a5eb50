#pragma once
// The module in whose resources the framework finds its images and documents. The application
// records its program module at start-up; until then it is the program itself.
//
// Names: one beginning with "::" denotes a resource of that module ("::driverComboBox.png" is the
// resource "DRIVERCOMBOBOX_PNG"); any other name is a file path.

#include <windows.h>

#include "Utilities/Storage/StringT.h"

namespace Orv {

HMODULE GetResourceModule();
void SetResourceModule(HMODULE module);

bool IsResourceName(const WideString& name);
// The resource a "::" name denotes: the rest upper-cased, each "." and " " as "_".
WideString ResourceNameOf(const WideString& name);

}  // namespace Orv
