#include "win32/LibraryLoader.h"

#include <dlfcn.h>

#include <algorithm>
#include <cctype>
#include <string>
#include <string_view>

#include "ProgramPath.h"
#include "Utf16.h"
#include "win32/LastError.h"

namespace {

constexpr std::string_view kDllSuffix = ".dll";

bool EndsWithDll(std::string_view name)
{
    if (name.size() <= kDllSuffix.size()) {
        return false;
    }
    const std::string_view tail = name.substr(name.size() - kDllSuffix.size());
    return std::equal(tail.begin(), tail.end(), kDllSuffix.begin(), [](char a, char b) {
        return std::tolower(static_cast<unsigned char>(a)) == b;
    });
}

// The folder of the running program, with a trailing "/"; empty when it cannot be read.
std::string ProgramFolder()
{
    const std::string path = Win32Internal::ProgramPath();
    return path.empty() ? path : path.substr(0, path.rfind('/') + 1);
}

// The file the system loader should open for a Windows library name; empty when there is none.
// Every ".dll" path holds a "/", so the system loader never searches its own path list for it.
std::string ResolveLibraryPath(std::string name)
{
    std::replace(name.begin(), name.end(), '\\', '/');
    if (!EndsWithDll(name)) {
        return name;
    }
    const size_t slash = name.rfind('/');
    const std::string directory =
        slash == std::string::npos ? ProgramFolder() : name.substr(0, slash + 1);
    if (directory.empty()) {
        return {};
    }
    const std::string fileName = slash == std::string::npos ? name : name.substr(slash + 1);
    const std::string stem = fileName.substr(0, fileName.size() - kDllSuffix.size());
    return directory + "lib" + stem + ".so";
}

HMODULE OpenLibrary(const std::string& name)
{
    if (name.empty()) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    const std::string path = ResolveLibraryPath(name);
    void* handle = path.empty() ? nullptr : dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    return static_cast<HMODULE>(handle);
}

}  // namespace

HMODULE WINAPI LoadLibraryW(LPCWSTR fileName)
{
    return OpenLibrary(Win32Internal::Utf16ToUtf8(Win32Internal::TerminatedView(fileName)));
}

HMODULE WINAPI LoadLibraryA(LPCSTR fileName)
{
    return OpenLibrary(fileName != nullptr ? std::string(fileName) : std::string());
}

FARPROC WINAPI GetProcAddress(HMODULE module, LPCSTR procName)
{
    if (module == nullptr || procName == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    void* symbol = dlsym(module, procName);
    if (symbol == nullptr) {
        SetLastError(ERROR_PROC_NOT_FOUND);
        return nullptr;
    }
    return reinterpret_cast<FARPROC>(symbol);
}

BOOL WINAPI FreeLibrary(HMODULE module)
{
    if (module == nullptr || dlclose(module) != 0) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return TRUE;
}
