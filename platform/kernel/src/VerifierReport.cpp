// How the verifier names locks and code in its stops: a lock by its name or by the pool block that
// holds it (tag and offset, which stay the same from run to run), code by function and source line.
#include <cxxabi.h>
#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "KernelInternal.h"
#include "Verifier.h"

// The sanitizers' symbolizer, when the program has one.
extern "C" __attribute__((weak)) void __sanitizer_symbolize_pc(void* pc, const char* format,
                                                               char* buffer, size_t size);

namespace Platform::Kernel::Internal {
namespace {

const char* KindName(LockKind kind)
{
    switch (kind) {
        case LockKind::SpinLock:
            return "spin lock";
        case LockKind::QueuedSpinLock:
            return "queued spin lock";
        case LockKind::Mutex:
            return "mutex";
    }
    return "lock";
}

std::string Hex(uintptr_t value)
{
    char text[24];
    std::snprintf(text, sizeof text, "0x%llX", static_cast<unsigned long long>(value));
    return text;
}

std::string BaseName(const std::string& path)
{
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Up to the parameter list: "Platform::X::Run".
std::string ShortFunction(const std::string& name)
{
    const size_t paren = name.find('(');
    return paren == std::string::npos ? name : name.substr(0, paren);
}

// The layer's own frames, the sanitizer's and lock helpers that only pass the call on.
bool IsLayerCode(const std::string& file, const std::string& function)
{
    return file.find("platform/kernel/src/") != std::string::npos ||
           file.find("sanitizer_common") != std::string::npos ||
           file.find("InStackLock.h") != std::string::npos ||
           function.rfind("Platform::Kernel::", 0) == 0 || function.rfind("__interceptor", 0) == 0;
}

std::string FromSanitizer(void* pc, bool skipLayer)
{
    char buffer[512] = {};
    __sanitizer_symbolize_pc(pc, "%f|%s|%l", buffer, sizeof buffer);
    const std::string text = buffer;
    const size_t first = text.find('|');
    const size_t second = text.find('|', first == std::string::npos ? 0 : first + 1);
    if (first == std::string::npos || second == std::string::npos) {
        return text;
    }
    const std::string function = text.substr(0, first);
    const std::string file = text.substr(first + 1, second - first - 1);
    if (skipLayer && IsLayerCode(file, function)) {
        return {};
    }
    const std::string where = BaseName(file) + ":" + text.substr(second + 1);
    // Some symbolizers give lines but no names.
    return function.empty() || function == "<null>" ? where
                                                    : ShortFunction(function) + " at " + where;
}

std::string FromDynamicLinker(void* pc, bool skipLayer)
{
    Dl_info info{};
    if (dladdr(pc, &info) == 0 || info.dli_sname == nullptr) {
        return Hex(reinterpret_cast<uintptr_t>(pc));
    }
    int status = 0;
    char* demangled = abi::__cxa_demangle(info.dli_sname, nullptr, nullptr, &status);
    const std::string function = status == 0 && demangled != nullptr ? demangled : info.dli_sname;
    std::free(demangled);
    if (skipLayer && IsLayerCode({}, function)) {
        return {};
    }
    return ShortFunction(function) + "+" +
           Hex(reinterpret_cast<uintptr_t>(pc) - reinterpret_cast<uintptr_t>(info.dli_saddr));
}

}  // namespace

std::string DescribeCode(const void* address)
{
    if (address == nullptr) {
        return {};
    }
    // A return address: the call is the instruction before it, which the sanitizer's symbolizer
    // looks up by itself.
    void* pc = const_cast<void*>(address);
    return __sanitizer_symbolize_pc != nullptr
               ? FromSanitizer(pc, true)
               : FromDynamicLinker(static_cast<char*>(pc) - 1, true);
}

std::string DescribeRoutine(const void* routine)
{
    void* pc = const_cast<void*>(routine);
    return __sanitizer_symbolize_pc != nullptr ? FromSanitizer(static_cast<char*>(pc) + 1, false)
                                               : FromDynamicLinker(pc, false);
}

std::string DescribeLockAs(const void* lock, LockKind kind, const std::string& name)
{
    std::string text = KindName(kind);
    if (lock == CancelSpinLockAddress()) {
        return "the cancel spin lock";
    }
    if (!name.empty()) {
        text = "the " + name;
    }
    ULONG tag = 0;
    size_t offset = 0;
    size_t size = 0;
    if (FindPoolBlock(lock, &tag, &offset, &size)) {
        return text + " at offset " + Hex(offset) + " of a pool block tagged '" + TagText(tag) +
               "' (" + std::to_string(size) + " bytes)";
    }
    return text + " at " + Hex(reinterpret_cast<uintptr_t>(lock)) + " (not in pool)";
}

}  // namespace Platform::Kernel::Internal

void Platform::Kernel::RequireCallerIrql(KIRQL maxIrql, const char* service)
{
    Internal::RequireIrqlAtMost(maxIrql, service);
}

void Platform::Kernel::VerifierStop(ULONG_PTR rule, const std::string& reason, ULONG_PTR p2,
                                    ULONG_PTR p3)
{
    Internal::Violation(kDriverVerifierDetectedViolation, reason, rule, p2, p3);
}
