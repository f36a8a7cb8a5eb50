#pragma once
// Whole-file reads and atomic replacement, with the identity of the file version that was read
// or written, so a later call can tell whether another process has replaced the file since.

#include <cstdint>
#include <optional>
#include <string>

namespace Praxen {

// Which version of a file is on disk. Replacing a file by rename gives it a new inode, so two
// versions never compare equal even within one clock tick.
struct FileStamp
{
    bool exists = false;
    uint64_t device = 0;
    uint64_t inode = 0;
    int64_t size = 0;
    int64_t modifiedNs = 0;
    bool operator==(const FileStamp&) const = default;
};

struct FileContent
{
    FileStamp stamp;
    std::string text;
};

enum class FileError
{
    Io,       // the file exists but cannot be read, or the folder cannot be written
    TooLarge  // larger than kPraxenMaxFileBytes
};

// The current stamp of path (exists = false when there is no file).
FileStamp StampOf(const std::string& path);

// The file's text and stamp; a missing file reads as empty. Fails with Io when the folder does
// not exist, so a mistyped path is reported at once rather than at the first change.
std::optional<FileContent> ReadWholeFile(const std::string& path, FileError& error);

// Writes text to a temporary file in the same folder, flushes it to disk and renames it over
// path. On failure the old file is untouched and no temporary file is left.
std::optional<FileStamp> ReplaceFileAtomically(const std::string& path, const std::string& text);

}  // namespace Praxen
