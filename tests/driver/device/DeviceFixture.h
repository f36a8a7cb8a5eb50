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

    // A one-shot kernel timer whose DPC runs routine(context) ms from now; set after the timers
    // under test, so at the same instant its DPC runs after theirs.
    static void RunDpcIn(KTIMER* timer, KDPC* dpc, PKDEFERRED_ROUTINE routine, PVOID context,
                         LONGLONG ms)
    {
        KeInitializeTimer(timer);
        KeInitializeDpc(dpc, routine, context);
        LARGE_INTEGER due;
        due.QuadPart = -ms * 10'000;
        KeSetTimer(timer, due, dpc);
    }

    size_t Holders() { return Platform::Kernel::RemoveLockHolders(&context_.removeLock).size(); }

    DEVICE_OBJECT fdo_{};
    KSDEVICE ksDevice_{};
    DeviceContext context_;
};
