#include "Registry/MachineRegistry.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>

#include "RegFileFormat.h"
#include "Registry/RegFile.h"

namespace Platform::Registry {

struct MachineRegistry::Key
{
    std::u16string name;
    std::map<std::u16string, std::unique_ptr<Key>> subkeys;  // by folded name
    std::vector<std::pair<std::u16string, Value>> values;    // in the order first set

    auto FindValue(std::u16string_view valueName)
    {
        const std::u16string folded = FoldName(valueName);
        return std::find_if(values.begin(), values.end(),
                            [&](const auto& entry) { return FoldName(entry.first) == folded; });
    }
};

namespace {

constexpr char kFileName[] = "Registry.reg";

std::vector<std::u16string_view> SplitPath(std::u16string_view path)
{
    std::vector<std::u16string_view> parts;
    while (!path.empty() && path.front() == u'\\') {
        path.remove_prefix(1);  // a leading separator means the same key
    }
    while (!path.empty()) {
        const size_t end = path.find(u'\\');
        parts.push_back(path.substr(0, end));
        if (end == std::u16string_view::npos) {
            break;
        }
        path.remove_prefix(end + 1);
        if (path.empty()) {
            parts.push_back(path);  // a trailing separator: an empty name, refused below
        }
    }
    return parts;
}

// The subkey of that name, made when missing.
MachineRegistry::Key& Child(MachineRegistry::Key& parent, std::u16string_view name,
                            bool* created = nullptr)
{
    auto& child = parent.subkeys[FoldName(name)];
    if (created != nullptr) {
        *created = !child;
    }
    if (!child) {
        child = std::make_unique<MachineRegistry::Key>();
        child->name = std::u16string(name);
    }
    return *child;
}

bool ValidKeyName(std::u16string_view name)
{
    if (name.empty() || name.size() > RegFormat::kMaxKeyNameChars) {
        return false;
    }
    return std::none_of(name.begin(), name.end(), [](char16_t c) { return c < 0x20; });
}

bool ValidValueName(std::u16string_view name)
{
    return name.size() <= RegFormat::kMaxValueNameChars &&
           std::none_of(name.begin(), name.end(), [](char16_t c) { return c < 0x20; });
}

bool ValidPath(std::u16string_view path)
{
    const auto parts = SplitPath(path);
    return std::all_of(parts.begin(), parts.end(), ValidKeyName);
}

void Collect(const MachineRegistry::Key& key, const std::u16string& path,
             std::vector<RegFileKey>& out)
{
    out.push_back(RegFileKey{path, key.values});
    for (const auto& [folded, child] : key.subkeys) {
        Collect(*child, path + u'\\' + child->name, out);
    }
}

bool WriteAll(int fd, const std::vector<uint8_t>& bytes)
{
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

// Temporary file, flushed to disk, then renamed over the old one: a crash leaves one whole file.
bool WriteAtomically(const std::filesystem::path& file, const std::vector<uint8_t>& bytes)
{
    std::error_code ignored;
    std::filesystem::create_directories(file.parent_path(), ignored);
    const std::filesystem::path temporary = file.string() + ".tmp";
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        return false;
    }
    const bool written = WriteAll(fd, bytes) && ::fsync(fd) == 0;
    ::close(fd);
    if (!written || ::rename(temporary.c_str(), file.c_str()) != 0) {
        ::unlink(temporary.c_str());
        return false;
    }
    const int dir = ::open(file.parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return true;
}

}  // namespace

MachineRegistry::MachineRegistry()
{
    roots_[0] = std::make_unique<Key>();
    roots_[1] = std::make_unique<Key>();
    Seed();
}

MachineRegistry::~MachineRegistry() = default;

MachineRegistry& MachineRegistry::Instance()
{
    static MachineRegistry* registry = [] {
        auto* instance = new MachineRegistry();  // lives as long as the process
        const std::string problem = instance->OpenFromEnvironment();
        if (!problem.empty()) {
            std::fprintf(stderr, "registry: %s\n", problem.c_str());
        }
        return instance;
    }();
    return *registry;
}

std::u16string MachineRegistry::ResolvePath(Hive hive, std::u16string_view path, View view)
{
    auto parts = SplitPath(path);
    std::u16string resolved;
    for (size_t i = 0; i < parts.size(); ++i) {
        if (i > 0) {
            resolved += u'\\';
        }
        resolved += parts[i];
        if (i == 0 && hive == Hive::LocalMachine && view == View::Wow32 &&
            FoldName(parts[0]) == u"SOFTWARE" &&
            (parts.size() < 2 || FoldName(parts[1]) != u"WOW6432NODE")) {
            resolved += u"\\Wow6432Node";
        }
    }
    return resolved;
}

MachineRegistry::Key* MachineRegistry::Find(Hive hive, std::u16string_view resolvedPath) const
{
    Key* key = roots_[static_cast<int>(hive)].get();
    for (std::u16string_view part : SplitPath(resolvedPath)) {
        auto it = key->subkeys.find(FoldName(part));
        if (it == key->subkeys.end()) {
            return nullptr;
        }
        key = it->second.get();
    }
    return key;
}

void MachineRegistry::Seed()
{
    static const std::u16string_view kMachineKeys[] = {
        u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\MMDevices\\Audio\\Capture",
        u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\MMDevices\\Audio\\Render",
        u"SOFTWARE\\Wow6432Node",
        u"SYSTEM\\CurrentControlSet\\Control\\MediaCategories",
        u"SYSTEM\\CurrentControlSet\\Services",
    };
    for (auto path : kMachineKeys) {
        Key* key = roots_[0].get();
        for (auto part : SplitPath(path)) {
            key = &Child(*key, part);
        }
    }
    Child(*roots_[1], u"Software");
}

std::string MachineRegistry::Open(const std::filesystem::path& root)
{
    std::lock_guard lock(mutex_);
    roots_[0] = std::make_unique<Key>();
    roots_[1] = std::make_unique<Key>();
    Seed();
    file_.clear();
    if (root.empty()) {
        return {};
    }
    file_ = root / kFileName;
    std::ifstream in(file_, std::ios::binary);
    if (!in) {
        return {};  // no file yet: the first change writes it
    }
    const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                     std::istreambuf_iterator<char>());
    RegFileError error;
    const auto keys = ReadRegFile(bytes, &error);
    if (!keys) {
        std::error_code ignored;
        std::filesystem::rename(file_, file_.string() + ".bad", ignored);
        return file_.string() + ": " + error.Describe() + " (moved aside to " + kFileName + ".bad)";
    }
    for (const RegFileKey& fileKey : *keys) {
        const size_t separator = fileKey.path.find(u'\\');
        const std::u16string_view hiveName = std::u16string_view(fileKey.path).substr(0, separator);
        const int hive = hiveName == RegFormat::kHives[0] ? 0 : 1;
        Key* key = roots_[hive].get();
        if (separator != std::u16string::npos) {
            for (auto part : SplitPath(std::u16string_view(fileKey.path).substr(separator + 1))) {
                key = &Child(*key, part);
            }
        }
        for (const auto& [name, value] : fileKey.values) {
            auto it = key->FindValue(name);
            if (it == key->values.end()) {
                key->values.emplace_back(name, value);
            } else {
                it->second = value;
            }
        }
    }
    return {};
}

std::string MachineRegistry::OpenFromEnvironment()
{
    const char* root = std::getenv("QUORVEL_ROOT");
    return Open(root != nullptr ? std::filesystem::path(root) : std::filesystem::path());
}

std::filesystem::path MachineRegistry::FilePath() const
{
    std::lock_guard lock(mutex_);
    return file_;
}

Result MachineRegistry::Persist() const
{
    if (file_.empty()) {
        return Result::Ok;
    }
    std::vector<RegFileKey> keys;
    for (int hive = 0; hive < 2; ++hive) {
        Collect(*roots_[hive], std::u16string(RegFormat::kHives[hive]), keys);
    }
    return WriteAtomically(file_, WriteRegFile(keys)) ? Result::Ok : Result::StoreError;
}

bool MachineRegistry::KeyExists(Hive hive, std::u16string_view path, View view) const
{
    std::lock_guard lock(mutex_);
    return ValidPath(path) && Find(hive, ResolvePath(hive, path, view)) != nullptr;
}

Result MachineRegistry::CreateKey(Hive hive, std::u16string_view path, View view, bool* created)
{
    if (!ValidPath(path) || SplitPath(path).empty()) {
        return Result::InvalidName;
    }
    std::lock_guard lock(mutex_);
    const std::u16string resolved = ResolvePath(hive, path, view);
    const size_t separator = resolved.rfind(u'\\');
    const std::u16string_view name = separator == std::u16string::npos
                                         ? std::u16string_view(resolved)
                                         : std::u16string_view(resolved).substr(separator + 1);
    Key* parent = separator == std::u16string::npos
                      ? roots_[static_cast<int>(hive)].get()
                      : Find(hive, std::u16string_view(resolved).substr(0, separator));
    if (parent == nullptr) {
        return Result::ParentMissing;
    }
    bool made = false;
    Child(*parent, name, &made);
    if (created != nullptr) {
        *created = made;
    }
    return made ? Persist() : Result::Ok;
}

Result MachineRegistry::CreateKeyPath(Hive hive, std::u16string_view path, View view)
{
    if (!ValidPath(path)) {
        return Result::InvalidName;
    }
    std::lock_guard lock(mutex_);
    Key* key = roots_[static_cast<int>(hive)].get();
    bool changed = false;
    const std::u16string resolved = ResolvePath(hive, path, view);
    for (auto part : SplitPath(resolved)) {
        bool made = false;
        key = &Child(*key, part, &made);
        changed = changed || made;
    }
    return changed ? Persist() : Result::Ok;
}

template <typename Operation>
Result MachineRegistry::OnKey(Hive hive, std::u16string_view path, View view,
                              std::u16string_view valueName, Operation operation) const
{
    if (!ValidPath(path) || !ValidValueName(valueName)) {
        return Result::InvalidName;
    }
    std::lock_guard lock(mutex_);
    Key* key = Find(hive, ResolvePath(hive, path, view));
    return key == nullptr ? Result::NotFound : operation(*key);
}

Result MachineRegistry::GetValue(Hive hive, std::u16string_view path, std::u16string_view name,
                                 View view, Value* value) const
{
    return OnKey(hive, path, view, name, [&](Key& key) {
        auto it = key.FindValue(name);
        if (it == key.values.end()) {
            return Result::NotFound;
        }
        *value = it->second;
        return Result::Ok;
    });
}

Result MachineRegistry::SetValue(Hive hive, std::u16string_view path, std::u16string_view name,
                                 const Value& value, View view)
{
    if (value.data.size() > RegFormat::kMaxValueBytes) {
        return Result::TooLarge;  // the file could not hold it
    }
    return OnKey(hive, path, view, name, [&](Key& key) {
        auto it = key.FindValue(name);
        if (it == key.values.end()) {
            key.values.emplace_back(std::u16string(name), value);
        } else {
            it->second = value;
        }
        return Persist();
    });
}

Result MachineRegistry::DeleteValue(Hive hive, std::u16string_view path, std::u16string_view name,
                                    View view)
{
    return OnKey(hive, path, view, name, [&](Key& key) {
        auto it = key.FindValue(name);
        if (it == key.values.end()) {
            return Result::NotFound;
        }
        key.values.erase(it);
        return Persist();
    });
}

Result MachineRegistry::EnumerateSubkey(Hive hive, std::u16string_view path, View view,
                                        size_t index, std::u16string* name) const
{
    return OnKey(hive, path, view, u"", [&](Key& key) {
        if (index >= key.subkeys.size()) {
            return Result::NoMoreEntries;
        }
        *name = std::next(key.subkeys.begin(), static_cast<std::ptrdiff_t>(index))->second->name;
        return Result::Ok;
    });
}

Result MachineRegistry::EnumerateValue(Hive hive, std::u16string_view path, View view, size_t index,
                                       std::u16string* name, Value* value) const
{
    return OnKey(hive, path, view, u"", [&](Key& key) {
        if (index >= key.values.size()) {
            return Result::NoMoreEntries;
        }
        *name = key.values[index].first;
        *value = key.values[index].second;
        return Result::Ok;
    });
}

}  // namespace Platform::Registry
