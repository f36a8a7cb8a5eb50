#include "FileAccess.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <utility>
#include <vector>

#include "Praxen.h"

namespace Praxen {
namespace {

FileStamp StampFromStat(const struct stat& info)
{
    return {true, static_cast<uint64_t>(info.st_dev), static_cast<uint64_t>(info.st_ino),
            static_cast<int64_t>(info.st_size),
            static_cast<int64_t>(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec};
}

std::string FolderOf(const std::string& path)
{
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

bool IsFolder(const std::string& path)
{
    struct stat info
    {
    };
    return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool WriteAll(int fd, const std::string& text)
{
    size_t written = 0;
    while (written < text.size()) {
        const ssize_t n = write(fd, text.data() + written, text.size() - written);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        written += static_cast<size_t>(n);
    }
    return true;
}

class FileDescriptor
{
public:
    explicit FileDescriptor(int fd) : fd(fd) {}
    ~FileDescriptor()
    {
        if (fd >= 0) {
            close(fd);
        }
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int Get() const { return fd; }
    // Closes now, reporting whether the last buffered writes made it.
    bool Close() { return close(std::exchange(fd, -1)) == 0; }

private:
    int fd;
};

}  // namespace

FileStamp StampOf(const std::string& path)
{
    struct stat info
    {
    };
    if (stat(path.c_str(), &info) != 0) {
        return {};
    }
    return StampFromStat(info);
}

std::optional<FileContent> ReadWholeFile(const std::string& path, FileError& error)
{
    error = FileError::Io;
    FileDescriptor file(open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (file.Get() < 0) {
        if (errno == ENOENT && IsFolder(FolderOf(path))) {
            return FileContent{};
        }
        return std::nullopt;
    }
    struct stat info
    {
    };
    if (fstat(file.Get(), &info) != 0 || !S_ISREG(info.st_mode)) {
        return std::nullopt;
    }
    if (info.st_size > kPraxenMaxFileBytes) {
        error = FileError::TooLarge;
        return std::nullopt;
    }
    FileContent content{StampFromStat(info), {}};
    std::vector<char> chunk(64 * 1024);
    while (true) {
        const ssize_t n = read(file.Get(), chunk.data(), chunk.size());
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            return std::nullopt;
        }
        if (n == 0) {
            break;
        }
        content.text.append(chunk.data(), static_cast<size_t>(n));
        if (static_cast<int64_t>(content.text.size()) > kPraxenMaxFileBytes) {
            error = FileError::TooLarge;
            return std::nullopt;
        }
    }
    return content;
}

std::optional<FileStamp> ReplaceFileAtomically(const std::string& path, const std::string& text)
{
    std::string temporary = path + ".XXXXXX";
    FileDescriptor file(mkostemp(temporary.data(), O_CLOEXEC));
    if (file.Get() < 0) {
        return std::nullopt;
    }
    struct stat previous
    {
    };
    const mode_t mode = stat(path.c_str(), &previous) == 0 ? (previous.st_mode & 07777) : 0644;
    struct stat written
    {
    };
    const bool ok = WriteAll(file.Get(), text) && fchmod(file.Get(), mode) == 0 &&
                    fsync(file.Get()) == 0 && fstat(file.Get(), &written) == 0 && file.Close() &&
                    rename(temporary.c_str(), path.c_str()) == 0;
    if (!ok) {
        unlink(temporary.c_str());
        return std::nullopt;
    }
    return StampFromStat(written);
}

}  // namespace Praxen
