// The machine's one registry, shared by the kernel layer (the driver's Zw*/Rtl* routines) and the
// Win32 layer (the panel's Reg* functions). Key and value names are compared without regard to
// case; values keep their type and bytes. Every change is written at once to Registry.reg under
// the machine root folder, through a temporary file and a rename, so a crash leaves either the
// old file or the new one. Thread-safe.
//
// Paths are key names separated by '\', relative to the hive; "" is the hive itself.
#pragma once

#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "Registry/RegistryTypes.h"

namespace Platform::Registry {

class MachineRegistry
{
public:
    static MachineRegistry& Instance();

    // Forgets everything and serves the registry stored under root (the file is created at the
    // first change). An empty root keeps the registry in memory only. A file that cannot be read
    // is moved aside to Registry.reg.bad, the registry starts from the machine's basic keys, and
    // the returned text says why; an empty text means the file was loaded (or there was none).
    std::string Open(const std::filesystem::path& root);
    // Open($QUORVEL_ROOT), or memory only when it is not set.
    std::string OpenFromEnvironment();
    std::filesystem::path FilePath() const;  // empty when in memory only

    bool KeyExists(Hive hive, std::u16string_view path, View view = View::Native) const;
    // Creates the last component only; created (may be null) tells whether it was new.
    Result CreateKey(Hive hive, std::u16string_view path, View view, bool* created);
    // Creates every missing component.
    Result CreateKeyPath(Hive hive, std::u16string_view path, View view = View::Native);

    Result GetValue(Hive hive, std::u16string_view path, std::u16string_view name, View view,
                    Value* value) const;
    Result SetValue(Hive hive, std::u16string_view path, std::u16string_view name,
                    const Value& value, View view = View::Native);
    Result DeleteValue(Hive hive, std::u16string_view path, std::u16string_view name,
                       View view = View::Native);

    // Subkeys in the order of their folded names; values in the order they were first set.
    Result EnumerateSubkey(Hive hive, std::u16string_view path, View view, size_t index,
                           std::u16string* name) const;
    Result EnumerateValue(Hive hive, std::u16string_view path, View view, size_t index,
                          std::u16string* name, Value* value) const;

    // The path a view resolves to: the Wow32 view inserts Wow6432Node after HKLM\Software.
    static std::u16string ResolvePath(Hive hive, std::u16string_view path, View view);

    struct Key;

    MachineRegistry();
    ~MachineRegistry();
    MachineRegistry(const MachineRegistry&) = delete;
    MachineRegistry& operator=(const MachineRegistry&) = delete;

private:
    Key* Find(Hive hive, std::u16string_view resolvedPath) const;
    // Checks the names, takes the lock and runs operation on the key, or answers NotFound.
    template <typename Operation>
    Result OnKey(Hive hive, std::u16string_view path, View view, std::u16string_view valueName,
                 Operation operation) const;
    Result Persist() const;
    void Seed();

    mutable std::mutex mutex_;
    std::unique_ptr<Key> roots_[2];
    std::filesystem::path file_;
};

}  // namespace Platform::Registry
