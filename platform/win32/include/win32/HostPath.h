#pragma once
// How the file functions of this layer read a Windows path on this machine:
// - "\" and "/" both separate;
// - a drive-rooted path ("C:\Program Files\x", "c:/x", "C:") lies under the machine root folder
//   ($QUORVEL_ROOT), in a folder named by the upper-case drive letter: "$QUORVEL_ROOT/C/Program
//   Files/x". A drive exists when its folder does (the machine's set-up makes "C"). Without
//   QUORVEL_ROOT such a path names nothing, and the call fails as for a missing
//   path;
// - any other path (relative, or a host path starting with "/") is used as it is.
// Names keep their case: the host's file system tells "a" from "A".

#include <optional>
#include <string>
#include <string_view>

namespace Platform::Win32 {

// The host path of a Windows path in UTF-8; nothing when it cannot be placed.
std::optional<std::string> ToHostPath(std::string_view windowsPath);
std::optional<std::string> ToHostPath(std::u16string_view windowsPath);

}  // namespace Platform::Win32
