#include "FileErrors.h"

#include <sys/stat.h>

#include <cerrno>

#include "win32/FileApi.h"

namespace Win32Internal {

void SetLastErrorFromErrno(int error)
{
    switch (error) {
        case ENOENT:
            SetLastError(ERROR_FILE_NOT_FOUND);
            break;
        case ENOTDIR:
            SetLastError(ERROR_PATH_NOT_FOUND);
            break;
        case EEXIST:
            SetLastError(ERROR_ALREADY_EXISTS);
            break;
        case EACCES:
        case EPERM:
        case EROFS:
            SetLastError(ERROR_ACCESS_DENIED);
            break;
        case ENOMEM:
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            break;
        default:
            SetLastError(ERROR_INVALID_PARAMETER);
            break;
    }
}

DWORD AttributesOf(mode_t mode)
{
    DWORD attributes = 0;
    if (S_ISDIR(mode)) {
        attributes |= FILE_ATTRIBUTE_DIRECTORY;
    }
    if ((mode & S_IWUSR) == 0) {
        attributes |= FILE_ATTRIBUTE_READONLY;
    }
    return attributes != 0 ? attributes : FILE_ATTRIBUTE_NORMAL;
}

}  // namespace Win32Internal
