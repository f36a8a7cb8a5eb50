#include "ProgramPath.h"

#include <unistd.h>

namespace Win32Internal {

std::string ProgramPath()
{
    std::string path(4096, '\0');
    const ssize_t length = readlink("/proc/self/exe", path.data(), path.size());
    if (length <= 0 || static_cast<size_t>(length) >= path.size()) {
        return {};
    }
    path.resize(static_cast<size_t>(length));
    return path;
}

}  // namespace Win32Internal
