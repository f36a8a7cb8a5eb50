// The pin-name GUIDs of the driver's endpoints and the display names Windows shows for them. All
// rows are registered under the MediaCategories key; endpoint naming picks "Multichannel", the
// "Line" rows and "S/PDIF".
#pragma once

#include <wdm.h>

struct PinNameCategory
{
    GUID guid;
    PCWSTR name;
    PCWSTR keyPath;  // under the system's Control key
};

inline constexpr ULONG kPinNameCategoryCount = 29;
extern const PinNameCategory kPinNameCategories[kPinNameCategoryCount];

// The rows endpoint naming uses, by their place in the table.
const GUID* MultichannelPinName();
const GUID* SpdifPinName();
// The pin name of the p-th line pair (from 0); wide selects the "Line 01/02" series for p < 5.
const GUID* LinePairPinName(ULONG pairNumber, bool wide);
