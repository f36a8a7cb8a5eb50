#include "ControlFilterFixture.h"

#include "controlfilter/ControlFilterWire.h"
#include "product/ProductDeviceParts.h"

void ControlFilterFixture::TearDown()
{
    LoadedDriverFixture::TearDown();
}

void ControlFilterFixture::LoadProduct()
{
    LoadDriver(ProductDriverEntry, DriverKey::Installed);
    device_ = PlugInDevice(UsbSim::ProductUac2(), true);
    ASSERT_NE(device_, nullptr);
    Platform::Kernel::RunPending();
}

std::u16string ControlFilterFixture::ControlLink() const
{
    return device_->FindInterface(KSCATEGORY_TOPOLOGY,
                                  Platform::Ks::GuidText(kControlFilterReference));
}

std::unique_ptr<ControlRequester> ControlFilterFixture::Open(Platform::Kernel::UserProcess& process,
                                                             NTSTATUS* status)
{
    auto handle = Platform::Ks::FilterHandle::Open(process, *device_, ControlLink(), status);
    if (handle == nullptr) {
        return nullptr;
    }
    return std::make_unique<ControlRequester>(process, std::move(handle));
}
