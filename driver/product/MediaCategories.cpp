// The display names of the pin-name GUIDs, which Windows reads from the MediaCategories key to
// name the endpoints' pins. Failures are ignored: a missing name only shows the GUID.
#include <wdm.h>

#include "device/EndpointNaming.h"
#include "device/PinNameCategories.h"

NTSTATUS RegisterMediaCategories(DeviceContext*)
{
    for (const PinNameCategory& row : kPinNameCategories) {
        ULONG length = 0;
        while (row.name[length] != 0) {
            ++length;
        }
        RtlWriteRegistryValue(RTL_REGISTRY_CONTROL, row.keyPath, u"Name", REG_SZ,
                              const_cast<PWSTR>(row.name), (length + 1) * sizeof(WCHAR));
        ULONG display = 0;
        RtlWriteRegistryValue(RTL_REGISTRY_CONTROL, row.keyPath, u"Display", REG_BINARY, &display,
                              sizeof display);
    }
    return STATUS_SUCCESS;
}
