#pragma once
// The content of one settings file: sections of keys with values and array items, in file order.

#include <string>
#include <string_view>
#include <vector>

namespace Praxen {

struct IniEntry
{
    std::string key;
    std::string value;  // unescaped text
    bool operator==(const IniEntry&) const = default;
};

struct IniSection
{
    std::string name;  // node path; "" for the root part before the first header
    std::vector<IniEntry> entries;
    std::vector<std::string> items;  // "@0", "@1", ... in order
    bool operator==(const IniSection&) const = default;
};

// A node path split into the section that holds its value and its key there.
struct NodeLocation
{
    std::string_view section;
    std::string_view key;
};

// One name of a node path (see Praxen.h for the rules).
bool IsValidName(std::string_view name);
// A path of valid names joined by "/"; the empty path (the root) only when allowRoot.
bool IsValidNodePath(std::string_view path, bool allowRoot);
// The location of the value of a valid, non-empty node path.
NodeLocation LocateNode(std::string_view path);

class IniDocument
{
public:
    IniDocument();

    const std::string* FindValue(std::string_view node) const;
    bool NodeExists(std::string_view node) const;
    void SetValue(std::string_view node, std::string value);

    const IniSection* FindSection(std::string_view name) const;
    IniSection* FindSection(std::string_view name);
    // The section, created at the end when absent.
    IniSection& ObtainSection(std::string_view name);

    const std::vector<IniSection>& Sections() const { return sections; }
    bool operator==(const IniDocument&) const = default;

private:
    std::vector<IniSection> sections;  // the root part always comes first
};

}  // namespace Praxen
