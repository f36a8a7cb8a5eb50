// The registry's file format: the text regedit writes ("Windows Registry Editor Version 5.00"),
// in UTF-16LE with a byte-order mark. The reader also takes UTF-8. Files come from outside: the
// reader checks everything and answers a clear error naming the line, never crashes.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "Registry/RegistryTypes.h"

namespace Platform::Registry {

// One key of a file: its full path with the hive's long name ("HKEY_LOCAL_MACHINE\SOFTWARE\X")
// and its values in file order.
struct RegFileKey
{
    std::u16string path;
    std::vector<std::pair<std::u16string, Value>> values;  // name "" = the default value
};

struct RegFileError
{
    size_t line = 0;  // 1-based; 0 for the file as a whole
    std::string message;

    std::string Describe() const;  // "line 12: ..."
};

// Keys in file order. On error nothing is returned but the error.
std::optional<std::vector<RegFileKey>> ReadRegFile(const std::vector<uint8_t>& bytes,
                                                   RegFileError* error);

// The file's bytes: UTF-16LE with a byte-order mark, CRLF line ends.
std::vector<uint8_t> WriteRegFile(const std::vector<RegFileKey>& keys);

}  // namespace Platform::Registry
