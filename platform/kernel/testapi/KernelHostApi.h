// The host side of the kernel layer's user-mode and Plug and Play services: simulated user
// processes with their handles and memory, and the properties a bus driver reports for a
// device. Driver code never includes this.
#pragma once

#include <wdm.h>

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

namespace Platform::Kernel {

// A user-mode process: a handle table (events) and the address ranges it owns. A 32-bit process
// gets addresses below 4 GB and small handle values, so both fit in 32 bits. Destroying the
// process closes its handles and frees its memory; objects the kernel still references live on
// until it dereferences them.
class UserProcess
{
public:
    explicit UserProcess(bool is32Bit = false);
    ~UserProcess();
    UserProcess(const UserProcess&) = delete;
    UserProcess& operator=(const UserProcess&) = delete;

    bool Is32Bit() const { return is32Bit_; }

    // An event object; the handle grants the access given.
    HANDLE CreateEvent(bool manualReset, bool initialState,
                       ACCESS_MASK access = EVENT_ALL_ACCESS | SYNCHRONIZE);
    bool CloseHandle(HANDLE handle);
    size_t HandleCount() const { return handles_.size(); }
    // The state of the event behind a handle; nothing for an unknown handle. Reading does not
    // reset an auto-reset event; Consume does (as a satisfied wait would).
    std::optional<bool> IsEventSignalled(HANDLE handle) const;
    bool ConsumeEvent(HANDLE handle);
    bool ResetEvent(HANDLE handle);

    // Zero-filled user memory owned by this process.
    void* Allocate(size_t bytes);
    void Free(void* address);
    // Whether [address, address + bytes) lies inside one of the process's ranges.
    bool OwnsRange(const void* address, size_t bytes) const;
    // When on, pages the kernel locked for user mode become inaccessible the moment they are
    // unlocked (as pages a process freed meanwhile would be): a driver that still reaches them
    // after MmUnlockPages faults at once instead of by chance.
    void SetPagesGoWhenUnlocked(bool on)
    {
        pagesGoWhenUnlocked_ = on;
        pagesMayHaveGone_ = pagesMayHaveGone_ || on;
    }
    bool PagesGoWhenUnlocked() const { return pagesGoWhenUnlocked_; }
    // Whether pages of the process may have gone with their unlocking at some time: memory it
    // once had may then be inaccessible until Allocate maps it again.
    bool PagesMayHaveGone() const { return pagesMayHaveGone_; }

    struct HandleEntry
    {
        void* object;
        ACCESS_MASK access;
    };
    const HandleEntry* Lookup(HANDLE handle) const;

private:
    bool is32Bit_;
    bool pagesGoWhenUnlocked_ = false;
    bool pagesMayHaveGone_ = false;  // a freed range may hold inaccessible pages
    uintptr_t nextHandle_ = 4;
    // By handle value, which only grows: ordered by appending. Every period a client polls its
    // events through here, and a few handles fit a cache line or two.
    std::vector<std::pair<uintptr_t, HandleEntry>> handles_;
    struct Range
    {
        uintptr_t start;
        size_t bytes;
    };
    // Ordered by start. A client keeps a few dozen buffers at once, and a request's buffers come
    // and go on every call: a sorted array costs no heap block per buffer and a probe is a binary
    // search over a few cache lines.
    std::vector<Range> ranges_;
    // Indexes into ranges_ of the ranges that answered the latest probes (relaxed: probes may
    // come from several threads, and any index is checked against the table as it stands).
    mutable std::atomic<size_t> probeHints_[2] = {SIZE_MAX, SIZE_MAX};
    // Freed mappings kept for reuse by a later allocation of as many pages: a fresh mapping each
    // time cost the long soaks most of their time. Each keeps the bytes its last owner had: only
    // those need zeroing again for a smaller or equal new owner.
    std::map<size_t, std::vector<Range>> spare_;  // mapped bytes (whole pages) -> mappings
    size_t spareBytes_ = 0;
};

// While it lives, the calling thread runs in the context of the process (as a request from user
// mode does); attachments nest.
class AttachedToProcess
{
public:
    explicit AttachedToProcess(UserProcess& process);
    ~AttachedToProcess();
    AttachedToProcess(const AttachedToProcess&) = delete;
    AttachedToProcess& operator=(const AttachedToProcess&) = delete;

private:
    UserProcess* previous_;
};

UserProcess* CurrentUserProcess();

// Objects (events) still held by a handle or a kernel reference.
size_t LiveObjectCount();

// The next `count` calls of MmGetSystemAddressForMdlSafe find no system address (as when the
// system is out of page-table entries) and answer null.
void FailSystemAddressMappings(unsigned count);

// Device properties as the bus driver reports them for a physical device object.
void SetDeviceProperty(PDEVICE_OBJECT physicalDeviceObject, DEVICE_REGISTRY_PROPERTY property,
                       std::vector<uint8_t> value);
void ForgetDeviceProperties(PDEVICE_OBJECT physicalDeviceObject);
// The n-th IoGetDeviceProperty call from now (1 = the next) answers the given status.
void FailDevicePropertyQuery(uint64_t n, NTSTATUS status);

// Back to no injected failures (mappings included). Properties stay with their devices until
// forgotten.
void ResetHostState();

}  // namespace Platform::Kernel
