#include "StoredCase.h"

#include <dirent.h>
#include <locale.h>
#include <sys/stat.h>

#include <wctype.h>
#include <cwctype>
#include <memory>

#include <Registry/RegistryTypes.h>

#include "win32/HostPath.h"
#include "win32/LastError.h"

namespace Win32Internal {
namespace {

bool IsSeparator(char16_t c)
{
    return c == u'\\' || c == u'/';
}

bool Exists(std::u16string_view windowsPath)
{
    const auto host = Platform::Win32::ToHostPath(windowsPath);
    struct stat status
    {
    };
    return host && ::stat(host->c_str(), &status) == 0;
}

// Upper-case mapping of the whole of Unicode, whatever the program's own locale; the C locale
// would map ASCII only. Built once, kept for the process.
locale_t CaseLocale()
{
    static const locale_t locale = newlocale(LC_CTYPE_MASK, "C.UTF-8", locale_t{});
    return locale;
}

char16_t Folded(char16_t unit)
{
    if (unit >= 0xD800 && unit <= 0xDFFF) {
        return unit;  // surrogates compare as they are
    }
    const locale_t locale = CaseLocale();
    const wint_t upper = locale != locale_t{} ? towupper_l(static_cast<wint_t>(unit), locale)
                                              : std::towupper(static_cast<wint_t>(unit));
    // A mapping out of the 16-bit range would not be one unit: keep the unit.
    return upper <= 0xFFFF ? static_cast<char16_t>(upper) : unit;
}

bool EqualIgnoringCase(std::u16string_view a, std::u16string_view b)
{
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (Folded(a[i]) != Folded(b[i])) {
            return false;
        }
    }
    return true;
}

// The stored name in folder that equals name ignoring case; the first in name order.
std::optional<std::u16string> FindStoredName(std::u16string_view folder, std::u16string_view name)
{
    const auto host = Platform::Win32::ToHostPath(folder.empty() ? u"." : folder);
    if (!host) {
        return std::nullopt;
    }
    const std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(host->c_str()), &::closedir);
    if (!dir) {
        return std::nullopt;
    }
    std::optional<std::u16string> best;
    while (const dirent* entry = ::readdir(dir.get())) {
        std::u16string stored;
        if (!Platform::Registry::Utf8ToUtf16(entry->d_name, &stored) ||
            !EqualIgnoringCase(stored, name)) {
            continue;
        }
        if (!best || stored < *best) {
            best = std::move(stored);
        }
    }
    return best;
}

}  // namespace

StoredCaseResult WithStoredCase(std::u16string_view windowsPath)
{
    StoredCaseResult result;
    std::size_t at = 0;
    // A drive ("C:") is not a name of the folder above it.
    if (windowsPath.size() >= 2 && windowsPath[1] == u':') {
        result.path.assign(windowsPath.substr(0, 2));
        at = 2;
    }
    while (at < windowsPath.size()) {
        if (IsSeparator(windowsPath[at])) {
            result.path += windowsPath[at++];
            continue;
        }
        std::size_t end = at;
        while (end < windowsPath.size() && !IsSeparator(windowsPath[end])) {
            ++end;
        }
        const std::u16string_view name = windowsPath.substr(at, end - at);
        const bool last = end == windowsPath.size();
        if (Exists(result.path + std::u16string(name))) {
            result.path += name;
        } else if (const auto stored = FindStoredName(result.path, name)) {
            result.path += *stored;
        } else {
            result.error = last ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND;
            return result;
        }
        at = end;
    }
    if (!Exists(result.path)) {
        result.error = ERROR_FILE_NOT_FOUND;  // a path of separators or a drive that does not exist
    }
    return result;
}

}  // namespace Win32Internal
