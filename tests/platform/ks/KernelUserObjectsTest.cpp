// User processes as the kernel sees them: handle lookups with their access check, MDLs over user
// memory, device properties.
#include <KernelHostApi.h>
#include <KernelTestApi.h>
#include <gtest/gtest.h>
#include <sys/mman.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <random>
#include <utility>
#include <vector>

#include "KernelTestFixture.h"

using Platform::Kernel::AttachedToProcess;
using Platform::Kernel::UserProcess;

namespace {

class KernelUserObjectsTest : public Platform::Kernel::Testing::KernelTest
{
protected:
    void TearDown() override
    {
        Platform::Kernel::ResetHostState();
        KernelTest::TearDown();
    }
};

TEST_F(KernelUserObjectsTest, HandleLookupChecksProcessTypeAndAccess)
{
    UserProcess process;
    UserProcess other;
    HANDLE full = process.CreateEvent(true, false);
    HANDLE waitOnly = process.CreateEvent(true, false, SYNCHRONIZE);
    other.CreateEvent(true, false);
    AttachedToProcess attached(process);
    struct Case
    {
        const char* name;
        HANDLE handle;
        KPROCESSOR_MODE mode;
        NTSTATUS status;
    };
    const Case cases[] = {
        {"full access", full, UserMode, STATUS_SUCCESS},
        {"without modify access", waitOnly, UserMode, STATUS_ACCESS_DENIED},
        {"kernel mode skips the check", waitOnly, KernelMode, STATUS_SUCCESS},
        {"unknown handle", reinterpret_cast<HANDLE>(0x999), UserMode, STATUS_INVALID_HANDLE},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        PVOID object = reinterpret_cast<PVOID>(1);
        EXPECT_EQ(ObReferenceObjectByHandle(c.handle, EVENT_MODIFY_STATE, *ExEventObjectType,
                                            c.mode, &object, nullptr),
                  c.status);
        if (NT_SUCCESS(c.status)) {
            KeSetEvent(static_cast<PRKEVENT>(object), 0, FALSE);
            ObDereferenceObject(object);
        } else {
            EXPECT_EQ(object, nullptr);
        }
    }
    EXPECT_EQ(process.IsEventSignalled(full), true);
}

TEST_F(KernelUserObjectsTest, AReferencedObjectOutlivesItsHandleAndProcess)
{
    PVOID object = nullptr;
    {
        UserProcess process;
        HANDLE event = process.CreateEvent(true, false);
        AttachedToProcess attached(process);
        ASSERT_EQ(ObReferenceObjectByHandle(event, EVENT_MODIFY_STATE, *ExEventObjectType, UserMode,
                                            &object, nullptr),
                  STATUS_SUCCESS);
    }
    EXPECT_EQ(Platform::Kernel::LiveObjectCount(), 1u);
    KeSetEvent(static_cast<PRKEVENT>(object), 0, FALSE);
    ObDereferenceObject(object);
    EXPECT_EQ(Platform::Kernel::LiveObjectCount(), 0u);
    const auto stop = Platform::Kernel::ExpectBugCheck([&] { ObDereferenceObject(object); });
    EXPECT_TRUE(stop.has_value());
}

TEST_F(KernelUserObjectsTest, ProbingForUserModeAcceptsOnlyTheCallersRanges)
{
    UserProcess process;
    UserProcess other;
    auto* mine = static_cast<char*>(process.Allocate(4096));
    auto* theirs = static_cast<char*>(other.Allocate(64));
    char kernel[64];
    struct Case
    {
        const char* name;
        void* address;
        ULONG length;
        KPROCESSOR_MODE mode;
        NTSTATUS status;
    };
    const Case cases[] = {
        {"inside", mine + 100, 200, UserMode, STATUS_SUCCESS},
        {"the whole range", mine, 4096, UserMode, STATUS_SUCCESS},
        {"running past the end", mine + 4000, 200, UserMode, STATUS_ACCESS_VIOLATION},
        {"another process's memory", theirs, 64, UserMode, STATUS_ACCESS_VIOLATION},
        {"kernel memory for user mode", kernel, 64, UserMode, STATUS_ACCESS_VIOLATION},
        {"kernel memory for kernel mode", kernel, 64, KernelMode, STATUS_SUCCESS},
    };
    AttachedToProcess attached(process);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        PMDL mdl = IoAllocateMdl(c.address, c.length, FALSE, FALSE, nullptr);
        ASSERT_NE(mdl, nullptr);
        EXPECT_EQ(MmProbeAndLockPages(mdl, c.mode, IoWriteAccess), c.status);
        if (NT_SUCCESS(c.status)) {
            auto* system =
                static_cast<char*>(MmGetSystemAddressForMdlSafe(mdl, NormalPagePriority));
            ASSERT_NE(system, nullptr);
            const bool userPages = c.address != kernel;
            // User pages get a system address of their own over the same memory; kernel memory
            // is its own system address.
            EXPECT_EQ(system != c.address, userPages);
            system[c.length - 1] = 0x5A;
            EXPECT_EQ(static_cast<char*>(c.address)[c.length - 1], 0x5A);
            MmUnlockPages(mdl);
            if (userPages) {
                const auto page = reinterpret_cast<uintptr_t>(system) & ~uintptr_t{4095};
                EXPECT_NE(msync(reinterpret_cast<void*>(page), 4096, MS_ASYNC), 0)
                    << "the system address goes with the unlock";
            }
        }
        // Unlocked pages have no frames to map: asking for their address stops the system.
        const auto stop = Platform::Kernel::ExpectBugCheck(
            [&] { MmGetSystemAddressForMdlSafe(mdl, NormalPagePriority); });
        ASSERT_TRUE(stop.has_value());
        EXPECT_EQ(stop->code, Platform::Kernel::kDriverVerifierDetectedViolation);
        IoFreeMdl(mdl);
    }
    PMDL locked = IoAllocateMdl(mine, 16, FALSE, FALSE, nullptr);
    ASSERT_EQ(MmProbeAndLockPages(locked, UserMode, IoReadAccess), STATUS_SUCCESS);
    EXPECT_TRUE(Platform::Kernel::ExpectBugCheck([&] { IoFreeMdl(locked); }).has_value());
    MmUnlockPages(locked);
    IoFreeMdl(locked);
}

// A process may have its pages go the moment the kernel unlocks them: reaching them afterwards
// faults, while the process's other pages and pages it never let the kernel lock stay usable.
TEST_F(KernelUserObjectsTest, PagesCanGoWhenTheKernelUnlocksThem)
{
    UserProcess process;
    process.SetPagesGoWhenUnlocked(true);
    AttachedToProcess attached(process);
    auto* locked = static_cast<volatile int*>(process.Allocate(64));
    auto* other = static_cast<volatile int*>(process.Allocate(64));
    PMDL mdl = IoAllocateMdl(const_cast<int*>(locked), 64, FALSE, FALSE, nullptr);
    ASSERT_EQ(MmProbeAndLockPages(mdl, UserMode, IoWriteAccess), STATUS_SUCCESS);
    locked[0] = 1;  // usable while locked
    MmUnlockPages(mdl);
    IoFreeMdl(mdl);
    other[0] = 2;
    EXPECT_EQ(other[0], 2);
    EXPECT_DEATH(locked[0] = 3, "");
    // Kernel-mode locks of the same process leave the pages alone.
    PMDL kernelMdl = IoAllocateMdl(const_cast<int*>(other), 64, FALSE, FALSE, nullptr);
    ASSERT_EQ(MmProbeAndLockPages(kernelMdl, KernelMode, IoWriteAccess), STATUS_SUCCESS);
    MmUnlockPages(kernelMdl);
    IoFreeMdl(kernelMdl);
    other[0] = 4;
    EXPECT_EQ(other[0], 4);
}

// Freed user memory is kept for the next allocation of its size: the range is no longer the
// process's once freed, and what comes back is zero-filled and usable, also after its pages went
// with an unlock.
TEST_F(KernelUserObjectsTest, FreedMemoryIsNotOwnedAndComesBackClean)
{
    UserProcess process;
    process.SetPagesGoWhenUnlocked(true);
    AttachedToProcess attached(process);
    auto* first = static_cast<uint8_t*>(process.Allocate(64));
    PMDL mdl = IoAllocateMdl(first, 64, FALSE, FALSE, nullptr);
    ASSERT_EQ(MmProbeAndLockPages(mdl, UserMode, IoWriteAccess), STATUS_SUCCESS);
    std::memset(first, 0xA5, 64);
    MmUnlockPages(mdl);
    IoFreeMdl(mdl);
    process.Free(first);
    EXPECT_FALSE(process.OwnsRange(first, 1));
    PMDL stale = IoAllocateMdl(first, 16, FALSE, FALSE, nullptr);
    EXPECT_NE(MmProbeAndLockPages(stale, UserMode, IoReadAccess), STATUS_SUCCESS);
    IoFreeMdl(stale);

    for (int round = 0; round < 6; ++round) {
        auto* again = static_cast<uint8_t*>(process.Allocate(64));
        ASSERT_NE(again, nullptr);
        EXPECT_TRUE(process.OwnsRange(again, 64));
        for (int i = 0; i < 64; ++i) {
            ASSERT_EQ(again[i], 0) << "round " << round << ", byte " << i;
        }
        std::memset(again, round + 1, 64);
        process.Free(again);
    }
}

// A mapping comes back for a larger buffer of as many pages than its last owner had: all of the
// new range is zero, not only what the last owner's bytes covered.
TEST_F(KernelUserObjectsTest, ReusedMemoryIsZeroPastWhatItsLastOwnerHad)
{
    UserProcess process;
    const size_t sizes[][2] = {{64, 4000}, {4000, 64}, {100, 4096}, {5000, 8192}};
    for (const auto& [before, after] : sizes) {
        SCOPED_TRACE(testing::Message() << before << " then " << after << " bytes");
        auto* first = static_cast<uint8_t*>(process.Allocate(before));
        ASSERT_NE(first, nullptr);
        std::memset(first, 0x5A, before);
        process.Free(first);
        auto* again = static_cast<uint8_t*>(process.Allocate(after));
        ASSERT_EQ(again, first);  // as many pages: the mapping is reused
        for (size_t i = 0; i < after; ++i) {
            ASSERT_EQ(again[i], 0) << "byte " << i;
        }
        std::memset(again, 0xA5, after);
        process.Free(again);
    }
}

// Ownership against a model of the live ranges, through allocations and frees in random order:
// the start, the inside, the last byte and one past the end of every range, and ranges freed.
TEST_F(KernelUserObjectsTest, OwnedRangesFollowAllocationsAndFrees)
{
    UserProcess process;
    std::mt19937 random(7);
    std::vector<std::pair<uint8_t*, size_t>> live;
    std::vector<std::pair<uint8_t*, size_t>> freed;
    for (int round = 0; round < 400; ++round) {
        if (live.size() < 8 || random() % 3 != 0) {
            const size_t bytes = 1 + random() % 9000;
            auto* memory = static_cast<uint8_t*>(process.Allocate(bytes));
            ASSERT_NE(memory, nullptr);
            live.emplace_back(memory, bytes);
        } else {
            const size_t at = random() % live.size();
            process.Free(live[at].first);
            freed.push_back(live[at]);
            live.erase(live.begin() + static_cast<long>(at));
        }
    }
    for (const auto& [start, bytes] : live) {
        EXPECT_TRUE(process.OwnsRange(start, bytes));
        EXPECT_TRUE(process.OwnsRange(start + bytes / 2, bytes - bytes / 2));
        EXPECT_TRUE(process.OwnsRange(start + bytes - 1, 1));
        EXPECT_FALSE(process.OwnsRange(start, bytes + 1));
        EXPECT_FALSE(process.OwnsRange(start + bytes - 1, 2));
    }
    for (const auto& gone : freed) {
        const bool reused = std::any_of(
            live.begin(), live.end(), [&](const auto& range) { return range.first == gone.first; });
        if (!reused) {
            EXPECT_FALSE(process.OwnsRange(gone.first, 1));
        }
    }
    for (const auto& range : live) {
        process.Free(range.first);
        EXPECT_FALSE(process.OwnsRange(range.first, 1));
    }
}

TEST_F(KernelUserObjectsTest, ThirtyTwoBitProcessesGetNarrowAddressesAndHandles)
{
    UserProcess process(true);
    void* memory = process.Allocate(256);
    HANDLE event = process.CreateEvent(false, false);
    EXPECT_LT(reinterpret_cast<uintptr_t>(memory), 0x100000000ULL);
    EXPECT_LT(reinterpret_cast<uintptr_t>(event), 0x100000000ULL);
    EXPECT_FALSE(IoIs32bitProcess(nullptr));
    AttachedToProcess attached(process);
    EXPECT_TRUE(IoIs32bitProcess(nullptr));
}

TEST_F(KernelUserObjectsTest, DevicePropertiesAnswerTheirSizeFirst)
{
    DEVICE_OBJECT pdo{};
    const std::vector<uint8_t> value = {'A', 0, 'B', 0, 0, 0, 0, 0};
    Platform::Kernel::SetDeviceProperty(&pdo, DevicePropertyHardwareID, value);
    ULONG length = 0;
    EXPECT_EQ(IoGetDeviceProperty(&pdo, DevicePropertyHardwareID, 0, nullptr, &length),
              STATUS_BUFFER_TOO_SMALL);
    EXPECT_EQ(length, value.size());
    uint8_t small[4];
    EXPECT_EQ(IoGetDeviceProperty(&pdo, DevicePropertyHardwareID, sizeof small, small, &length),
              STATUS_BUFFER_TOO_SMALL);
    std::vector<uint8_t> buffer(value.size());
    EXPECT_EQ(IoGetDeviceProperty(&pdo, DevicePropertyHardwareID, length, buffer.data(), &length),
              STATUS_SUCCESS);
    EXPECT_EQ(buffer, value);
    EXPECT_EQ(IoGetDeviceProperty(&pdo, DevicePropertyFriendlyName, 0, nullptr, &length),
              STATUS_INVALID_PARAMETER_2);
    Platform::Kernel::ForgetDeviceProperties(&pdo);
    EXPECT_EQ(IoGetDeviceProperty(&pdo, DevicePropertyHardwareID, 0, nullptr, &length),
              STATUS_INVALID_PARAMETER_2);
}

}  // namespace
