#include <KernelTestApi.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <mutex>

#include "KernelInternal.h"
#include "Verifier.h"

namespace Platform::Kernel {
namespace {

std::atomic<BugCheckHook> g_hook{nullptr};
std::mutex g_systemThreadMutex;
std::optional<BugCheckInfo> g_systemThreadBugCheck;

[[noreturn]] void DefaultHook(const BugCheckInfo& info)
{
    std::fprintf(stderr, "*** STOP: %s\n", info.Describe().c_str());
    std::fflush(stderr);
    std::abort();
}

[[noreturn]] void Raise(const BugCheckInfo& info)
{
    BugCheckHook hook = g_hook.load();
    if (hook != nullptr) {
        hook(info);
    }
    DefaultHook(info);
}

}  // namespace

std::string BugCheckInfo::Describe() const
{
    char head[160];
    std::snprintf(head, sizeof head, "bug check 0x%08X (0x%llX, 0x%llX, 0x%llX, 0x%llX)", code,
                  static_cast<unsigned long long>(parameters[0]),
                  static_cast<unsigned long long>(parameters[1]),
                  static_cast<unsigned long long>(parameters[2]),
                  static_cast<unsigned long long>(parameters[3]));
    return reason.empty() ? std::string(head) : std::string(head) + ": " + reason;
}

BugCheckRaised::BugCheckRaised(BugCheckInfo info) : info_(std::move(info)), text_(info_.Describe())
{
}

BugCheckHook SetBugCheckHook(BugCheckHook hook)
{
    return g_hook.exchange(hook);
}

void ThrowingBugCheckHook(const BugCheckInfo& info)
{
    throw BugCheckRaised(info);
}

std::optional<BugCheckInfo> ExpectBugCheck(const std::function<void()>& body)
{
    const KIRQL irql = KeGetCurrentIrql();
    const size_t heldLocks = Internal::HeldLockDepth();
    struct HookScope
    {
        BugCheckHook previous = SetBugCheckHook(&ThrowingBugCheckHook);
        ~HookScope() { SetBugCheckHook(previous); }
    } scope;
    std::optional<BugCheckInfo> raised;
    try {
        body();
    } catch (const BugCheckRaised& stop) {
        raised = stop.Info();
        Internal::SetCurrentIrql(irql);
        Internal::ForgetSpinLocksHeld();
        Internal::TruncateHeldLocks(heldLocks);
    }
    return raised;
}

std::optional<BugCheckInfo> TakeSystemThreadBugCheck()
{
    std::lock_guard lock(g_systemThreadMutex);
    std::optional<BugCheckInfo> taken;
    taken.swap(g_systemThreadBugCheck);
    return taken;
}

namespace Internal {

void RecordSystemThreadBugCheck(const BugCheckInfo& info)
{
    std::lock_guard lock(g_systemThreadMutex);
    if (!g_systemThreadBugCheck) {
        g_systemThreadBugCheck = info;
    }
}

void Violation(ULONG code, const std::string& reason, ULONG_PTR p1, ULONG_PTR p2, ULONG_PTR p3,
               ULONG_PTR p4)
{
    BugCheckInfo info;
    info.code = code;
    info.parameters[0] = p1;
    info.parameters[1] = p2;
    info.parameters[2] = p3;
    info.parameters[3] = p4;
    info.reason = reason;
    Raise(info);
}

}  // namespace Internal
}  // namespace Platform::Kernel

void KeBugCheckEx(ULONG bugCheckCode, ULONG_PTR parameter1, ULONG_PTR parameter2,
                  ULONG_PTR parameter3, ULONG_PTR parameter4)
{
    Platform::Kernel::BugCheckInfo info;
    info.code = bugCheckCode;
    info.parameters[0] = parameter1;
    info.parameters[1] = parameter2;
    info.parameters[2] = parameter3;
    info.parameters[3] = parameter4;
    Platform::Kernel::Raise(info);
}

void KeBugCheck(ULONG bugCheckCode)
{
    KeBugCheckEx(bugCheckCode, 0, 0, 0, 0);
}
