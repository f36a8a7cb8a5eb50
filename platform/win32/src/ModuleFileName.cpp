#include "win32/ModuleFileName.h"

#include <dlfcn.h>
#include <link.h>

#include <algorithm>
#include <string>

#include <Registry/RegistryTypes.h>

#include "ProgramPath.h"
#include "win32/LastError.h"

namespace {

std::string LibraryPath(HMODULE module)
{
    link_map* map = nullptr;
    if (dlinfo(module, RTLD_DI_LINKMAP, &map) != 0 || map == nullptr || map->l_name == nullptr) {
        return {};
    }
    return map->l_name;
}

}  // namespace

DWORD WINAPI GetModuleFileNameW(HMODULE module, LPWSTR fileName, DWORD size)
{
    const std::string hostPath =
        module == nullptr ? Win32Internal::ProgramPath() : LibraryPath(module);
    std::u16string path;
    if (hostPath.empty() || !Platform::Registry::Utf8ToUtf16(hostPath, &path)) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return 0;
    }
    std::replace(path.begin(), path.end(), u'/', u'\\');
    if (fileName == nullptr || size == 0) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    if (path.size() >= size) {
        std::copy_n(path.begin(), size - 1, fileName);
        fileName[size - 1] = u'\0';
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return size;
    }
    std::copy(path.begin(), path.end(), fileName);
    fileName[path.size()] = u'\0';
    SetLastError(ERROR_SUCCESS);
    return static_cast<DWORD>(path.size());
}
