#pragma once
// Windows finds a file whatever the case of its name, and names it back as it is stored. The host
// file system tells "a" from "A"; this lookup gives the Windows behaviour to the calls that hand
// names back.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace Win32Internal {

struct StoredCaseResult
{
    std::u16string path;  // the path with each name component as stored; separators as given
    uint32_t error = 0;   // a Win32 error code when the path names nothing
};

// Each component that exists as written is kept; otherwise the one entry of its folder whose name
// equals it ignoring case takes its place (the first in name order when several do). The error
// is ERROR_FILE_NOT_FOUND for a missing last component, ERROR_PATH_NOT_FOUND for a missing folder.
StoredCaseResult WithStoredCase(std::u16string_view windowsPath);

}  // namespace Win32Internal
