// A loaded driver whose devices get the product's device model on the stand-in engine, with the
// driver's registry key present as the installation leaves it.
#pragma once

#include <KernelTestApi.h>
#include <KsHostApi.h>
#include <UsbDescriptorSet.h>
#include <UsbTestApi.h>

#include <memory>
#include <string>
#include <vector>

#include "LoadedDriverFixture.h"
#include "StandInEngine.h"

// The driver's key as the installation leaves it, in the kernel's naming.
inline constexpr char16_t kDriverKeyPath[] =
    u"\\Registry\\Machine\\Software\\Wow6432Node\\Tervolt\\Audio\\Drivers\\"
    u"{6242F6B0-04E7-497F-AE8D-287E12D19420}";

class ProductModelFixture : public LoadedDriverFixture
{
protected:
    void SetUp() override;

    // Plugs in the product (bcdDevice as given) on a bus of its own and, when asked, starts it.
    Platform::Ks::Device* PlugIn(bool start, USHORT bcdDevice = 0x0100, NTSTATUS* status = nullptr);

    ProductDeviceModel* Model() { return parts_.lastModel; }
    StandInEngine* Engine() { return parts_.engines.last; }
    DeviceContext* Context(Platform::Ks::Device* device) { return ContextOf(device); }

    // Registry access the way the driver has it.
    static NTSTATUS CreateKeyPath(const std::u16string& path);
    static NTSTATUS WriteValue(const std::u16string& key, const std::u16string& name, ULONG type,
                               const void* data, ULONG size);
    static NTSTATUS ReadDword(const std::u16string& key, const std::u16string& name, ULONG* value);

    ProductModelParts parts_;
};
