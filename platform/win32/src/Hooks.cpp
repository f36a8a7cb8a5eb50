#include "win32/Hooks.h"

#include <algorithm>
#include <vector>

#include "win32/LastError.h"
#include "win32/Messages.h"

namespace {

struct HookEntry
{
    HHOOK handle;
    HOOKPROC procedure;
};

// Newest first, as hooks chain.
thread_local std::vector<HookEntry> threadHooks;
uintptr_t nextHook = 0x100;

}  // namespace

namespace Win32Detail {

// Runs the thread's creation hooks (the newest, which chains on through CallNextHookEx).
void RunCreationHooks(HWND window)
{
    if (!threadHooks.empty()) {
        threadHooks.front().procedure(HCBT_CREATEWND, reinterpret_cast<WPARAM>(window), 0);
    }
}

}  // namespace Win32Detail

HHOOK WINAPI SetWindowsHookExW(int kind, HOOKPROC procedure, HINSTANCE, DWORD threadId)
{
    if (kind != WH_CBT || procedure == nullptr || threadId != GetCurrentThreadId()) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    const auto handle = reinterpret_cast<HHOOK>(__atomic_add_fetch(&nextHook, 4, __ATOMIC_RELAXED));
    threadHooks.insert(threadHooks.begin(), HookEntry{handle, procedure});
    return handle;
}

BOOL WINAPI UnhookWindowsHookEx(HHOOK hook)
{
    const auto removed =
        std::erase_if(threadHooks, [&](const HookEntry& entry) { return entry.handle == hook; });
    if (removed == 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    return TRUE;
}

LRESULT WINAPI CallNextHookEx(HHOOK hook, int code, WPARAM wParam, LPARAM lParam)
{
    auto it = std::find_if(threadHooks.begin(), threadHooks.end(),
                           [&](const HookEntry& entry) { return entry.handle == hook; });
    if (it == threadHooks.end() || ++it == threadHooks.end()) {
        return 0;
    }
    return it->procedure(code, wParam, lParam);
}
