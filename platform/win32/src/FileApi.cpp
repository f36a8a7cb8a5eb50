// Directories, attributes and long names on the host's POSIX calls.
#include "win32/FileApi.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "FileErrors.h"
#include "StoredCase.h"
#include "Utf16.h"
#include "win32/HostPath.h"

using Win32Internal::SetLastErrorFromErrno;
using Win32Internal::TerminatedView;

BOOL WINAPI CreateDirectoryW(LPCWSTR path, LPSECURITY_ATTRIBUTES /*security*/)
{
    const auto host = path ? Platform::Win32::ToHostPath(TerminatedView(path)) : std::nullopt;
    if (!host) {
        SetLastError(path ? ERROR_PATH_NOT_FOUND : ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (::mkdir(host->c_str(), 0777) != 0) {
        // A missing parent is a missing path, not a missing file.
        SetLastErrorFromErrno(errno == ENOENT ? ENOTDIR : errno);
        return FALSE;
    }
    return TRUE;
}

DWORD WINAPI GetFileAttributesW(LPCWSTR path)
{
    const auto host = path ? Platform::Win32::ToHostPath(TerminatedView(path)) : std::nullopt;
    struct stat status
    {
    };
    if (!host) {
        SetLastError(path ? ERROR_PATH_NOT_FOUND : ERROR_INVALID_PARAMETER);
        return INVALID_FILE_ATTRIBUTES;
    }
    if (::stat(host->c_str(), &status) != 0) {
        SetLastErrorFromErrno(errno);
        return INVALID_FILE_ATTRIBUTES;
    }
    return Win32Internal::AttributesOf(status.st_mode);
}

DWORD WINAPI GetLongPathNameW(LPCWSTR shortPath, LPWSTR longPath, DWORD bufferLength)
{
    if (shortPath == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const Win32Internal::StoredCaseResult stored =
        Win32Internal::WithStoredCase(TerminatedView(shortPath));
    if (stored.error != 0) {
        SetLastError(stored.error);
        return 0;
    }
    const std::u16string& text = stored.path;
    if (longPath == nullptr || text.size() >= bufferLength) {
        return static_cast<DWORD>(text.size() + 1);
    }
    std::memmove(longPath, text.data(), text.size() * sizeof(WCHAR));
    longPath[text.size()] = u'\0';
    return static_cast<DWORD>(text.size());
}
