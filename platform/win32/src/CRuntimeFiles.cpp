// The run-time's descriptor functions on the host's POSIX calls.
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <optional>
#include <string>

#include "Utf16.h"
#include "win32/HostPath.h"

namespace {

int HostOpenFlags(int openFlags)
{
    int flags = O_CLOEXEC;
    switch (openFlags & (_O_WRONLY | _O_RDWR)) {
        case _O_WRONLY:
            flags |= O_WRONLY;
            break;
        case _O_RDWR:
            flags |= O_RDWR;
            break;
        default:
            flags |= O_RDONLY;
            break;
    }
    if (openFlags & _O_APPEND) {
        flags |= O_APPEND;
    }
    if (openFlags & _O_CREAT) {
        flags |= O_CREAT;
    }
    if (openFlags & _O_TRUNC) {
        flags |= O_TRUNC;
    }
    if (openFlags & _O_EXCL) {
        flags |= O_EXCL;
    }
    return flags;
}

// The host's status in the run-time's record; -1 with EOVERFLOW when the size needs more than 32
// bits.
int ToRuntimeStatus(const struct stat& host, struct _stat* status)
{
    if (host.st_size > INT32_MAX) {
        errno = EOVERFLOW;
        return -1;
    }
    status->st_mode = static_cast<unsigned short>(
        (S_ISDIR(host.st_mode) ? _S_IFDIR : 0) | (S_ISREG(host.st_mode) ? _S_IFREG : 0) |
        (host.st_mode & S_IRUSR ? _S_IREAD : 0) | (host.st_mode & S_IWUSR ? _S_IWRITE : 0));
    status->st_nlink = static_cast<short>(host.st_nlink);
    status->st_size = static_cast<int32_t>(host.st_size);
    return 0;
}

// The host path of a wide path argument; nothing, with errno set, when there is none.
std::optional<std::string> HostPathOf(const WCHAR* path)
{
    if (path == nullptr) {
        errno = EINVAL;
        return std::nullopt;
    }
    auto host = Platform::Win32::ToHostPath(Win32Internal::TerminatedView(path));
    if (!host) {
        errno = ENOENT;
    }
    return host;
}

}  // namespace

int _wsopen(const WCHAR* path, int openFlags, int /*shareFlags*/, int permission)
{
    const auto host = HostPathOf(path);
    const mode_t mode = (permission & _S_IWRITE) ? 0666 : 0444;
    return host ? ::open(host->c_str(), HostOpenFlags(openFlags), mode) : -1;
}

int _close(int fd)
{
    return ::close(fd);
}

int _read(int fd, void* buffer, unsigned int count)
{
    if (count > INT_MAX) {
        errno = EINVAL;
        return -1;
    }
    return static_cast<int>(::read(fd, buffer, count));
}

int _write(int fd, const void* buffer, unsigned int count)
{
    if (count > INT_MAX) {
        errno = EINVAL;
        return -1;
    }
    return static_cast<int>(::write(fd, buffer, count));
}

int32_t _lseek(int fd, int32_t offset, int origin)
{
    const off_t current = ::lseek(fd, 0, SEEK_CUR);
    if (current < 0) {
        return -1;
    }
    const off_t position = ::lseek(fd, offset, origin);
    if (position < 0) {
        return -1;
    }
    if (position > INT32_MAX) {
        ::lseek(fd, current, SEEK_SET);  // a position the caller cannot hold is not taken
        errno = EINVAL;
        return -1;
    }
    return static_cast<int32_t>(position);
}

int _fstat(int fd, struct _stat* status)
{
    struct stat host
    {
    };
    if (status == nullptr) {
        errno = EINVAL;
        return -1;
    }
    if (::fstat(fd, &host) != 0) {
        return -1;
    }
    return ToRuntimeStatus(host, status);
}

int _stat(const char* utf8Path, struct _stat* status)
{
    if (utf8Path == nullptr || status == nullptr) {
        errno = EINVAL;
        return -1;
    }
    const auto host = Platform::Win32::ToHostPath(std::string_view(utf8Path));
    struct stat hostStatus
    {
    };
    if (!host) {
        errno = ENOENT;
        return -1;
    }
    if (::stat(host->c_str(), &hostStatus) != 0) {
        return -1;
    }
    return ToRuntimeStatus(hostStatus, status);
}

int _wunlink(const WCHAR* path)
{
    const auto host = HostPathOf(path);
    return host ? ::unlink(host->c_str()) : -1;
}

int _waccess(const WCHAR* path, int mode)
{
    if ((mode & ~6) != 0) {
        errno = EINVAL;
        return -1;
    }
    const auto host = HostPathOf(path);
    const int hostMode = mode == 0 ? F_OK : ((mode & 2) ? W_OK : 0) | ((mode & 4) ? R_OK : 0);
    return host ? ::access(host->c_str(), hostMode) : -1;
}
