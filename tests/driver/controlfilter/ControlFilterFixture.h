// The product's driver with its real control filter, and handles on it from user processes.
#pragma once

#include <KernelTestApi.h>
#include <KsHostApi.h>
#include <UsbDescriptorSet.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "ControlRequester.h"
#include "LoadedDriverFixture.h"
#include "device/DeviceContext.h"
#include "device/DeviceLifecycle.h"

class ControlFilterFixture : public LoadedDriverFixture
{
protected:
    void TearDown() override;

    // Loads the product's driver with its own parts and plugs in (and starts) the product.
    void LoadProduct();
    // The symbolic link of the control filter's interface; empty when it is not published.
    std::u16string ControlLink() const;
    std::unique_ptr<ControlRequester> Open(Platform::Kernel::UserProcess& process,
                                           NTSTATUS* status = nullptr);
    DeviceContext* Context() const { return ContextOf(device_); }

    Platform::Ks::Device* device_ = nullptr;
};
