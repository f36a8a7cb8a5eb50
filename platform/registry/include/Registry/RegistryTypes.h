// The registry's value record and the answers of the store, shared by its readers and writers.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace Platform::Registry {

// Value types, numbered as the system numbers them.
enum ValueType : uint32_t
{
    kRegNone = 0,
    kRegSz = 1,
    kRegExpandSz = 2,
    kRegBinary = 3,
    kRegDword = 4,
    kRegDwordBigEndian = 5,
    kRegLink = 6,
    kRegMultiSz = 7,
    kRegQword = 11,
};

struct Value
{
    uint32_t type = kRegNone;
    std::vector<uint8_t> data;

    bool operator==(const Value&) const = default;
};

enum class Hive
{
    LocalMachine,
    CurrentUser,
};

// The 32-bit view sees HKLM\Software as HKLM\Software\Wow6432Node.
enum class View
{
    Native,
    Wow32,
};

enum class Result
{
    Ok,
    NotFound,       // the key or value does not exist
    ParentMissing,  // creating a key whose parent does not exist
    InvalidName,    // an empty, over-long or malformed key or value name
    NoMoreEntries,  // enumeration past the end
    TooLarge,       // a value of more than 1 MiB
    StoreError,     // changed in memory, but the file could not be written
};

// Folds a name for comparison: letters of the Latin ranges compare without regard to case.
std::u16string FoldName(std::u16string_view name);

// UTF-16 <-> UTF-8 for messages and files; invalid input gives false.
bool Utf8ToUtf16(std::string_view in, std::u16string* out);
std::string Utf16ToUtf8(std::u16string_view in);

}  // namespace Platform::Registry
