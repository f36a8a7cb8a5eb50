// File search: the matching entries of one directory are read when the search starts and handed
// out one by one.
#include <dirent.h>
#include <fnmatch.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include <Registry/RegistryTypes.h>

#include "FileErrors.h"
#include "Utf16.h"
#include "win32/FileApi.h"
#include "win32/HostPath.h"

namespace {

struct FoundEntry
{
    std::u16string name;
    DWORD attributes;
    uint64_t size;
};

struct Search
{
    std::vector<FoundEntry> entries;
    size_t next = 0;
};

// Live searches, so that a stale or foreign handle is refused rather than followed.
struct SearchTable
{
    std::mutex mutex;
    std::set<Search*> live;
};

SearchTable& Searches()
{
    static SearchTable table;
    return table;
}

void Fill(const FoundEntry& entry, WIN32_FIND_DATAW* data)
{
    std::memset(data, 0, sizeof(*data));
    data->dwFileAttributes = entry.attributes;
    data->nFileSizeHigh = static_cast<DWORD>(entry.size >> 32);
    data->nFileSizeLow = static_cast<DWORD>(entry.size);
    std::memcpy(data->cFileName, entry.name.data(), entry.name.size() * sizeof(WCHAR));
}

}  // namespace

HANDLE WINAPI FindFirstFileW(LPCWSTR pattern, LPWIN32_FIND_DATAW data)
{
    if (pattern == nullptr || data == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    const auto host = Platform::Win32::ToHostPath(Win32Internal::TerminatedView(pattern));
    if (!host) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    const size_t slash = host->rfind('/');
    const std::string directory = slash == std::string::npos ? "." : host->substr(0, slash + 1);
    std::string namePattern = slash == std::string::npos ? *host : host->substr(slash + 1);
    if (namePattern == "*.*") {
        namePattern = "*";
    }
    DIR* dir = ::opendir(directory.c_str());
    if (dir == nullptr) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    auto search = std::make_unique<Search>();
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name == "." || name == ".." ||
            ::fnmatch(namePattern.c_str(), name.c_str(), FNM_CASEFOLD | FNM_NOESCAPE) != 0) {
            continue;
        }
        struct stat status
        {
        };
        FoundEntry found;
        if (::stat((directory + name).c_str(), &status) != 0 ||
            !Platform::Registry::Utf8ToUtf16(name, &found.name) || found.name.size() >= MAX_PATH) {
            continue;  // gone meanwhile, or a name (not UTF-8, too long) Windows could not carry
        }
        found.attributes = Win32Internal::AttributesOf(status.st_mode);
        found.size = static_cast<uint64_t>(status.st_size);
        search->entries.push_back(std::move(found));
    }
    ::closedir(dir);
    if (search->entries.empty()) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    std::sort(search->entries.begin(), search->entries.end(),
              [](const FoundEntry& a, const FoundEntry& b) { return a.name < b.name; });
    Fill(search->entries[0], data);
    search->next = 1;
    SearchTable& table = Searches();
    std::lock_guard lock(table.mutex);
    Search* handle = search.release();
    table.live.insert(handle);
    return handle;
}

BOOL WINAPI FindNextFileW(HANDLE handle, LPWIN32_FIND_DATAW data)
{
    SearchTable& table = Searches();
    std::lock_guard lock(table.mutex);
    auto* search = static_cast<Search*>(handle);
    if (data == nullptr || table.live.count(search) == 0) {
        SetLastError(data == nullptr ? ERROR_INVALID_PARAMETER : ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (search->next >= search->entries.size()) {
        SetLastError(ERROR_NO_MORE_FILES);
        return FALSE;
    }
    Fill(search->entries[search->next++], data);
    return TRUE;
}

BOOL WINAPI FindClose(HANDLE handle)
{
    SearchTable& table = Searches();
    std::lock_guard lock(table.mutex);
    auto* search = static_cast<Search*>(handle);
    if (table.live.erase(search) == 0) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    delete search;
    return TRUE;
}
