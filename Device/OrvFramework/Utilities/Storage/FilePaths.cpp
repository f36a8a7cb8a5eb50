#include "Utilities/Storage/FilePaths.h"

#include <io.h>
#include <windows.h>

namespace Orv {

namespace {

constexpr DWORD kLongPathCapacity = 260;

bool IsDriveRoot(const NarrowString& path)
{
    return path.GetLength() == 3 && path.GetText()[1] == ':';
}

// The attributes of the path, or INVALID_FILE_ATTRIBUTES when it does not exist.
DWORD AttributesOf(const WideString& path)
{
    return GetFileAttributesW(path.GetText());
}

}  // namespace

bool DirectoryExists(const WideString& path)
{
    NarrowString utf8 = path.ToNarrow();
    const int32_t length = utf8.GetLength();
    if (length > 0 && utf8.GetText()[length - 1] == '\\' && !IsDriveRoot(utf8)) {
        utf8 = utf8.Left(length - 1);
    }
    struct _stat status
    {
    };
    return _stat(utf8.GetText(), &status) == 0 && (status.st_mode & _S_IFMT) == _S_IFDIR;
}

ORVRESULT EnsureDirectory(const WideString& path)
{
    const DWORD attributes = AttributesOf(path);
    if (attributes != INVALID_FILE_ATTRIBUTES) {
        return (attributes & FILE_ATTRIBUTE_DIRECTORY) ? 1 : E_FAIL;
    }
    return CreateDirectoryPath(path.GetText()) ? S_OK : E_FAIL;
}

bool CreateDirectoryPath(const char16_t* path)
{
    if (path == nullptr || *path == 0) {
        return false;
    }
    const WideString whole(path);
    for (int32_t i = 1; i < whole.GetLength(); ++i) {
        if (path[i] == u'\\' || path[i] == u'/') {
            // Existing parents and failures alike: the final test decides.
            CreateDirectoryW(whole.Left(i).GetText(), nullptr);
        }
    }
    CreateDirectoryW(path, nullptr);
    return _waccess(path, 0) == 0;
}

bool FileExists(const WideString& path)
{
    const DWORD attributes = AttributesOf(path);
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

WideString GetLongPath(const WideString& path)
{
    WCHAR buffer[kLongPathCapacity] = {};
    const DWORD length = GetLongPathNameW(path.GetText(), buffer, kLongPathCapacity);
    if (length == 0 || length >= kLongPathCapacity) {
        return WideString();
    }
    return WideString(buffer);
}

ORVRESULT ListFiles(const WideString& directory, const WideString& pattern, Array<WideString>& out)
{
    out.RemoveAll();
    if (!DirectoryExists(directory)) {
        return E_NOTIMPL;
    }
    const WideString prefix = directory + u"\\";
    WIN32_FIND_DATAW entry{};
    const HANDLE search = FindFirstFileW((prefix + pattern).GetText(), &entry);
    if (search == INVALID_HANDLE_VALUE) {
        return static_cast<ORVRESULT>(out.GetCount());
    }
    do {
        if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
            out.AddItem(prefix + WideString(entry.cFileName));
        }
    } while (FindNextFileW(search, &entry));
    const bool complete = GetLastError() == ERROR_NO_MORE_FILES;
    FindClose(search);
    return complete ? static_cast<ORVRESULT>(out.GetCount()) : E_FAIL;
}

WideString SanitizeFileName(const WideString& name)
{
    WideString sanitized = name;
    sanitized.ReplaceChars(u"\\/:*?\"<>|&;,^()", u'_');
    return sanitized;
}

}  // namespace Orv
