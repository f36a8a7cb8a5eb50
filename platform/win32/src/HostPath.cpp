#include "win32/HostPath.h"

#include <cstdlib>

#include "Utf16.h"

namespace Platform::Win32 {

namespace {

bool IsLetter(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

bool IsSeparator(char c)
{
    return c == '\\' || c == '/';
}

}  // namespace

std::optional<std::string> ToHostPath(std::string_view windowsPath)
{
    std::string path;
    const bool driveRooted = windowsPath.size() >= 2 && IsLetter(windowsPath[0]) &&
                             windowsPath[1] == ':' &&
                             (windowsPath.size() == 2 || IsSeparator(windowsPath[2]));
    if (driveRooted) {
        const char* root = std::getenv("QUORVEL_ROOT");
        if (root == nullptr || *root == '\0') {
            return std::nullopt;
        }
        path = root;
        if (!IsSeparator(path.back())) {
            path += '/';
        }
        path += static_cast<char>(windowsPath[0] & ~0x20);  // the drive letter, upper case
        windowsPath.remove_prefix(2);
    }
    for (char c : windowsPath) {
        path += c == '\\' ? '/' : c;
    }
    return path;
}

std::optional<std::string> ToHostPath(std::u16string_view windowsPath)
{
    return ToHostPath(Win32Internal::Utf16ToUtf8(windowsPath));
}

}  // namespace Platform::Win32
