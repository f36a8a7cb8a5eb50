// A started device context as the timers see it: a kernel-streaming device with a functional
// device object, the remove lock initialised as the driver does, the state settable per test.
#pragma once

#include <KernelTestApi.h>
#include <ks.h>

#include <cstring>

#include "KernelTestFixture.h"
#include "device/DeviceContext.h"
#include "device/PoolTag.h"

class DeviceFixture : public Platform::Kernel::Testing::KernelTest
{
protected:
    void SetUp() override
    {
        KernelTest::SetUp();
        std::memset(&context_, 0, sizeof context_);
        ksDevice_.FunctionalDeviceObject = &fdo_;
        ksDevice_.Context = &context_;
        context_.device = &ksDevice_;
        IoInitializeRemoveLock(&context_.removeLock, kTagRemoveLock, 0, 1000);
        SetPnpState(&context_, kPnpStarted);
    }

    DeviceLink Link() { return &context_.device; }
    size_t Holders() { return Platform::Kernel::RemoveLockHolders(&context_.removeLock).size(); }

    DEVICE_OBJECT fdo_{};
    KSDEVICE ksDevice_{};
    DeviceContext context_;
};
