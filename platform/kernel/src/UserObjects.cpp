// Simulated user processes, the object manager's handle lookups and MDLs over user memory.
#include <KernelHostApi.h>
#include <wdm.h>

#include <sys/mman.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>
#include <unordered_map>
#include <unordered_set>

#include "KernelInternal.h"

struct _OBJECT_TYPE
{
    const char* name;
};

namespace {

_OBJECT_TYPE eventType{"Event"};
POBJECT_TYPE eventTypePointer = &eventType;

constexpr ULONG kMdlTag = Platform::Kernel::MakeTag("Mdl ");

// An object's header sits beside it; the object's address is what handles and references carry.
struct ObjectRecord
{
    POBJECT_TYPE type;
    LONG references;  // handles + kernel references
    KEVENT event;
};

std::mutex& ObjectsLock()
{
    static std::mutex lock;
    return lock;
}

std::unordered_map<void*, ObjectRecord*>& Objects()
{
    static std::unordered_map<void*, ObjectRecord*> objects;
    return objects;
}

void AddReference(void* object)
{
    std::lock_guard guard(ObjectsLock());
    auto it = Objects().find(object);
    if (it == Objects().end()) {
        Platform::Kernel::Internal::Violation(0x18, "ObReferenceObject on an unknown object",
                                              reinterpret_cast<ULONG_PTR>(object));
    }
    ++it->second->references;
}

void DropReference(void* object)
{
    ObjectRecord* doomed = nullptr;
    {
        std::lock_guard guard(ObjectsLock());
        auto it = Objects().find(object);
        if (it == Objects().end() || it->second->references <= 0) {
            Platform::Kernel::Internal::Violation(0x18,
                                                  "ObDereferenceObject on an object nothing holds",
                                                  reinterpret_cast<ULONG_PTR>(object));
        }
        if (--it->second->references == 0) {
            doomed = it->second;
            Objects().erase(it);
        }
    }
    delete doomed;
}

thread_local Platform::Kernel::UserProcess* currentProcess = nullptr;
std::atomic<unsigned> mappingFailures{0};

// MDLs locked for a process whose pages go when unlocked.
std::mutex& GoingMdlsLock()
{
    static std::mutex lock;
    return lock;
}

std::unordered_set<PMDL>& GoingMdls()
{
    static std::unordered_set<PMDL> mdls;
    return mdls;
}

bool ForgetGoingMdl(PMDL mdl)
{
    std::lock_guard guard(GoingMdlsLock());
    return GoingMdls().erase(mdl) != 0;
}

// The pages of a locked user range mapped a second time, at an address of their own: a driver
// that writes through the user address, or through the system address after the unlock, is not
// writing where it should, and the second is caught (the mapping goes with the unlock). Null when
// no second mapping can be made, as a mapping can fail in the kernel.
PVOID MapLockedUserPages(PMDL mdl)
{
    const auto start = reinterpret_cast<uintptr_t>(mdl->StartVa) & ~uintptr_t{PAGE_SIZE - 1};
    const uintptr_t end =
        (reinterpret_cast<uintptr_t>(mdl->StartVa) + mdl->ByteCount + PAGE_SIZE - 1) &
        ~uintptr_t{PAGE_SIZE - 1};
    void* alias = mremap(reinterpret_cast<void*>(start), 0, end - start, MREMAP_MAYMOVE);
    if (alias == MAP_FAILED) {
        return nullptr;
    }
    mdl->MdlFlags |= MDL_MAPPED_TO_SYSTEM_VA;
    return static_cast<char*>(alias) + (reinterpret_cast<uintptr_t>(mdl->StartVa) - start);
}

void UnmapLockedUserPages(PMDL mdl)
{
    if ((mdl->MdlFlags & MDL_MAPPED_TO_SYSTEM_VA) == 0) {
        return;
    }
    const auto start = reinterpret_cast<uintptr_t>(mdl->MappedSystemVa) & ~uintptr_t{PAGE_SIZE - 1};
    const uintptr_t end =
        (reinterpret_cast<uintptr_t>(mdl->MappedSystemVa) + mdl->ByteCount + PAGE_SIZE - 1) &
        ~uintptr_t{PAGE_SIZE - 1};
    munmap(reinterpret_cast<void*>(start), end - start);
    mdl->MdlFlags &= ~MDL_MAPPED_TO_SYSTEM_VA;
}

void RevokePages(PMDL mdl)
{
    const auto start = reinterpret_cast<uintptr_t>(mdl->StartVa) & ~uintptr_t{PAGE_SIZE - 1};
    const uintptr_t end =
        (reinterpret_cast<uintptr_t>(mdl->StartVa) + mdl->ByteCount + PAGE_SIZE - 1) &
        ~uintptr_t{PAGE_SIZE - 1};
    mprotect(reinterpret_cast<void*>(start), end - start, PROT_NONE);
}

}  // namespace

POBJECT_TYPE* ExEventObjectType = &eventTypePointer;

namespace Platform::Kernel {

UserProcess::UserProcess(bool is32Bit) : is32Bit_(is32Bit) {}

UserProcess::~UserProcess()
{
    while (!handles_.empty()) {
        CloseHandle(reinterpret_cast<HANDLE>(handles_.begin()->first));
    }
    while (!ranges_.empty()) {
        Free(reinterpret_cast<void*>(ranges_.back().start));
    }
    for (const auto& [bytes, mappings] : spare_) {
        for (const Range& mapping : mappings) {
            munmap(reinterpret_cast<void*>(mapping.start), bytes);
        }
    }
}

HANDLE UserProcess::CreateEvent(bool manualReset, bool initialState, ACCESS_MASK access)
{
    auto* record = new ObjectRecord{};
    record->type = eventTypePointer;
    record->references = 1;
    KeInitializeEvent(&record->event, manualReset ? NotificationEvent : SynchronizationEvent,
                      initialState ? TRUE : FALSE);
    {
        std::lock_guard guard(ObjectsLock());
        Objects()[&record->event] = record;
    }
    const uintptr_t handle = nextHandle_;
    nextHandle_ += 4;
    handles_.push_back({handle, {&record->event, access}});
    return reinterpret_cast<HANDLE>(handle);
}

namespace {

template <typename Handles>
auto FindHandle(Handles& handles, HANDLE handle)
{
    const auto value = reinterpret_cast<uintptr_t>(handle);
    const auto it =
        std::lower_bound(handles.begin(), handles.end(), value,
                         [](const auto& entry, uintptr_t v) { return entry.first < v; });
    return it != handles.end() && it->first == value ? it : handles.end();
}

}  // namespace

bool UserProcess::CloseHandle(HANDLE handle)
{
    auto it = FindHandle(handles_, handle);
    if (it == handles_.end()) {
        return false;
    }
    void* object = it->second.object;
    handles_.erase(it);
    DropReference(object);
    return true;
}

const UserProcess::HandleEntry* UserProcess::Lookup(HANDLE handle) const
{
    auto it = FindHandle(handles_, handle);
    return it == handles_.end() ? nullptr : &it->second;
}

std::optional<bool> UserProcess::IsEventSignalled(HANDLE handle) const
{
    const HandleEntry* entry = Lookup(handle);
    if (entry == nullptr) {
        return std::nullopt;
    }
    return KeReadStateEvent(static_cast<PRKEVENT>(entry->object)) != 0;
}

bool UserProcess::ConsumeEvent(HANDLE handle)
{
    const HandleEntry* entry = Lookup(handle);
    if (entry == nullptr) {
        return false;
    }
    LARGE_INTEGER poll;
    poll.QuadPart = 0;
    return KeWaitForSingleObject(entry->object, UserRequest, UserMode, FALSE, &poll) ==
           STATUS_SUCCESS;
}

bool UserProcess::ResetEvent(HANDLE handle)
{
    const HandleEntry* entry = Lookup(handle);
    if (entry == nullptr) {
        return false;
    }
    KeClearEvent(static_cast<PRKEVENT>(entry->object));
    return true;
}

namespace {

size_t WholePages(size_t bytes)
{
    return (bytes + PAGE_SIZE - 1) & ~size_t{PAGE_SIZE - 1};
}

// The number of ranges that start at or below address, in a search without data-dependent
// branches: every request probes user memory a few times, and a mispredicted halving each time
// cost more than the search itself.
template <typename Range>
size_t RangesStartingAtOrBelow(const std::vector<Range>& ranges, uintptr_t address)
{
    if (ranges.empty()) {
        return 0;
    }
    const Range* base = ranges.data();
    size_t count = ranges.size();
    while (count > 1) {
        const size_t half = count / 2;
        base += (base[half].start <= address) * half;  // a conditional move, not a jump
        count -= half;
    }
    return static_cast<size_t>(base - ranges.data()) + (base->start <= address ? 1 : 0);
}

}  // namespace

void* UserProcess::Allocate(size_t bytes)
{
    if (bytes == 0 || bytes > SIZE_MAX - PAGE_SIZE) {
        return nullptr;
    }
    const size_t mapped = WholePages(bytes);
    void* memory = nullptr;
    if (auto spare = spare_.find(mapped); spare != spare_.end() && !spare->second.empty()) {
        const Range reused = spare->second.back();
        spare->second.pop_back();
        spareBytes_ -= mapped;
        memory = reinterpret_cast<void*>(reused.start);
        // Pages unlocked while pages went with their unlocking are still inaccessible.
        if (pagesMayHaveGone_ && mprotect(memory, mapped, PROT_READ | PROT_WRITE) != 0) {
            munmap(memory, mapped);
            return nullptr;
        }
        // The new range is zero-filled: only its owners wrote the mapping, within what they had.
        std::memset(memory, 0, std::max(reused.bytes, bytes));
    } else {
        // Shared, so that locked pages can be given a system address of their own (a second
        // mapping of the same pages), as the kernel maps locked user pages into system space.
        int flags = MAP_SHARED | MAP_ANONYMOUS;
        if (is32Bit_) {
            flags |= MAP_32BIT;
        }
        memory = mmap(nullptr, mapped, PROT_READ | PROT_WRITE, flags, -1, 0);
        if (memory == MAP_FAILED) {
            return nullptr;
        }
    }
    const Range range{reinterpret_cast<uintptr_t>(memory), bytes};
    ranges_.insert(
        ranges_.begin() + static_cast<long>(RangesStartingAtOrBelow(ranges_, range.start)), range);
    return memory;
}

void UserProcess::Free(void* address)
{
    // Enough for the buffers of the requests a client keeps outstanding at once.
    constexpr size_t kSpareBytes = size_t{16} << 20;
    if (address == nullptr) {
        return;  // a request without an input buffer frees none
    }
    const auto start = reinterpret_cast<uintptr_t>(address);
    const size_t atOrBelow = RangesStartingAtOrBelow(ranges_, start);
    if (atOrBelow == 0 || ranges_[atOrBelow - 1].start != start) {
        return;
    }
    const auto it = ranges_.begin() + static_cast<long>(atOrBelow - 1);
    const Range freed = *it;
    const size_t mapped = WholePages(freed.bytes);
    ranges_.erase(it);
    // The process no longer owns the range (OwnsRange and probes say so); its pages stay mapped,
    // as a process heap keeps freed blocks. The driver reaches user pages only through locked
    // MDLs, whose unlocking is what SetPagesGoWhenUnlocked checks.
    if (spareBytes_ + mapped <= kSpareBytes) {
        spare_[mapped].push_back(freed);
        spareBytes_ += mapped;
    } else {
        munmap(address, mapped);
    }
}

namespace {

template <typename Range>
bool RangeHolds(const Range& range, uintptr_t start, size_t bytes)
{
    const uintptr_t end = range.start + range.bytes;
    return start >= range.start && start <= end && bytes <= end - start;
}

}  // namespace

bool UserProcess::OwnsRange(const void* address, size_t bytes) const
{
    const auto start = reinterpret_cast<uintptr_t>(address);
    // The ranges that answered the last probes first: a request's probes come back to the same
    // few buffers, and a search through ranges gone cold cost more than the rest of the probe.
    // Any index inside the table names a range the process owns, so a stale one is only a miss.
    for (const std::atomic<size_t>& hint : probeHints_) {
        const size_t at = hint.load(std::memory_order_relaxed);
        if (at < ranges_.size() && RangeHolds(ranges_[at], start, bytes)) {
            return true;
        }
    }
    const size_t atOrBelow = RangesStartingAtOrBelow(ranges_, start);
    if (atOrBelow == 0 || !RangeHolds(ranges_[atOrBelow - 1], start, bytes)) {
        return false;
    }
    probeHints_[1].store(probeHints_[0].load(std::memory_order_relaxed), std::memory_order_relaxed);
    probeHints_[0].store(atOrBelow - 1, std::memory_order_relaxed);
    return true;
}

AttachedToProcess::AttachedToProcess(UserProcess& process) : previous_(currentProcess)
{
    currentProcess = &process;
}

AttachedToProcess::~AttachedToProcess()
{
    currentProcess = previous_;
}

UserProcess* CurrentUserProcess()
{
    return currentProcess;
}

void FailSystemAddressMappings(unsigned count)
{
    mappingFailures.store(count);
}

namespace Internal {

void ResetUserObjectFailures()
{
    mappingFailures.store(0);
}

}  // namespace Internal

size_t LiveObjectCount()
{
    std::lock_guard guard(ObjectsLock());
    return Objects().size();
}

}  // namespace Platform::Kernel

NTSTATUS ObReferenceObjectByHandle(HANDLE handle, ACCESS_MASK desiredAccess,
                                   POBJECT_TYPE objectType, KPROCESSOR_MODE accessMode,
                                   PVOID* object, POBJECT_HANDLE_INFORMATION handleInformation)
{
    Platform::Kernel::Internal::RequirePassive("ObReferenceObjectByHandle");
    *object = nullptr;
    Platform::Kernel::UserProcess* process = currentProcess;
    const Platform::Kernel::UserProcess::HandleEntry* entry =
        process != nullptr ? process->Lookup(handle) : nullptr;
    if (entry == nullptr) {
        return STATUS_INVALID_HANDLE;
    }
    {
        std::lock_guard guard(ObjectsLock());
        ObjectRecord* record = Objects().at(entry->object);
        if (objectType != nullptr && record->type != objectType) {
            return STATUS_OBJECT_TYPE_MISMATCH;
        }
        if (accessMode == UserMode && (entry->access & desiredAccess) != desiredAccess) {
            return STATUS_ACCESS_DENIED;
        }
        ++record->references;
    }
    if (handleInformation != nullptr) {
        handleInformation->HandleAttributes = 0;
        handleInformation->GrantedAccess = entry->access;
    }
    *object = entry->object;
    return STATUS_SUCCESS;
}

void ObfReferenceObject(PVOID object)
{
    Platform::Kernel::Internal::RequireIrqlAtMost(DISPATCH_LEVEL, "ObfReferenceObject");
    AddReference(object);
}

void ObfDereferenceObject(PVOID object)
{
    Platform::Kernel::Internal::RequireIrqlAtMost(DISPATCH_LEVEL, "ObfDereferenceObject");
    DropReference(object);
}

PMDL IoAllocateMdl(PVOID virtualAddress, ULONG length, BOOLEAN secondaryBuffer, BOOLEAN chargeQuota,
                   struct _IRP* irp)
{
    UNREFERENCED_PARAMETER(secondaryBuffer);
    UNREFERENCED_PARAMETER(chargeQuota);
    UNREFERENCED_PARAMETER(irp);
    Platform::Kernel::Internal::RequireIrqlAtMost(DISPATCH_LEVEL, "IoAllocateMdl");
    if (length == 0) {
        return nullptr;
    }
    auto* mdl = static_cast<PMDL>(ExAllocatePoolWithTag(NonPagedPoolNx, sizeof(MDL), kMdlTag));
    if (mdl == nullptr) {
        return nullptr;
    }
    std::memset(mdl, 0, sizeof(MDL));
    mdl->Size = sizeof(MDL);
    mdl->StartVa = virtualAddress;
    mdl->ByteCount = length;
    mdl->ByteOffset =
        static_cast<ULONG>(reinterpret_cast<uintptr_t>(virtualAddress) & (PAGE_SIZE - 1));
    return mdl;
}

NTSTATUS MmProbeAndLockPages(PMDL mdl, KPROCESSOR_MODE accessMode, LOCK_OPERATION operation)
{
    UNREFERENCED_PARAMETER(operation);
    Platform::Kernel::Internal::RequireIrqlAtMost(APC_LEVEL, "MmProbeAndLockPages");
    if ((mdl->MdlFlags & MDL_PAGES_LOCKED) != 0) {
        Platform::Kernel::Internal::Violation(0x76, "MmProbeAndLockPages: pages already locked",
                                              reinterpret_cast<ULONG_PTR>(mdl));
    }
    Platform::Kernel::UserProcess* process = currentProcess;
    const bool userPages = process != nullptr && process->OwnsRange(mdl->StartVa, mdl->ByteCount);
    if (accessMode == UserMode) {
        if (!userPages) {
            return STATUS_ACCESS_VIOLATION;
        }
        if (process->PagesGoWhenUnlocked()) {
            std::lock_guard guard(GoingMdlsLock());
            GoingMdls().insert(mdl);
        }
    }
    mdl->MdlFlags |= MDL_PAGES_LOCKED;
    // Pool memory is system memory already; user pages get a system address of their own.
    mdl->MappedSystemVa = userPages ? MapLockedUserPages(mdl) : mdl->StartVa;
    return STATUS_SUCCESS;
}

PVOID MmGetSystemAddressForMdlSafe(PMDL mdl, ULONG priority)
{
    UNREFERENCED_PARAMETER(priority);
    Platform::Kernel::Internal::RequireIrqlAtMost(DISPATCH_LEVEL, "MmGetSystemAddressForMdlSafe");
    // Pages that are not locked have no frames to map: the kernel would map whatever the MDL's
    // page array holds.
    if ((mdl->MdlFlags & (MDL_PAGES_LOCKED | MDL_SOURCE_IS_NONPAGED_POOL)) == 0) {
        Platform::Kernel::Internal::Violation(
            Platform::Kernel::kDriverVerifierDetectedViolation,
            "MmGetSystemAddressForMdlSafe of an MDL whose pages are not locked",
            reinterpret_cast<ULONG_PTR>(mdl));
    }
    for (unsigned left = mappingFailures.load(); left > 0;) {
        if (mappingFailures.compare_exchange_weak(left, left - 1)) {
            return nullptr;
        }
    }
    return mdl->MappedSystemVa;
}

void MmUnlockPages(PMDL mdl)
{
    Platform::Kernel::Internal::RequireIrqlAtMost(DISPATCH_LEVEL, "MmUnlockPages");
    if ((mdl->MdlFlags & MDL_PAGES_LOCKED) == 0) {
        Platform::Kernel::Internal::Violation(0x76, "MmUnlockPages: pages not locked",
                                              reinterpret_cast<ULONG_PTR>(mdl));
    }
    mdl->MdlFlags &= ~MDL_PAGES_LOCKED;
    UnmapLockedUserPages(mdl);
    mdl->MappedSystemVa = nullptr;
    if (ForgetGoingMdl(mdl)) {
        RevokePages(mdl);
    }
}

void IoFreeMdl(PMDL mdl)
{
    Platform::Kernel::Internal::RequireIrqlAtMost(DISPATCH_LEVEL, "IoFreeMdl");
    if ((mdl->MdlFlags & MDL_PAGES_LOCKED) != 0) {
        Platform::Kernel::Internal::Violation(0x76, "IoFreeMdl: pages still locked",
                                              reinterpret_cast<ULONG_PTR>(mdl));
    }
    ForgetGoingMdl(mdl);
    ExFreePoolWithTag(mdl, kMdlTag);
}

BOOLEAN IoIs32bitProcess(struct _IRP* irp)
{
    UNREFERENCED_PARAMETER(irp);
    // It reads the requesting thread's process, which only its own dispatch call still runs in.
    Platform::Kernel::Internal::RequirePassive("IoIs32bitProcess");
    return currentProcess != nullptr && currentProcess->Is32Bit() ? TRUE : FALSE;
}
