#include "IniDocument.h"

#include <algorithm>
#include <utility>

namespace Praxen {

bool IsValidName(std::string_view name)
{
    if (name.empty() || name.front() == '@' || name.front() == ';' || name.front() == '#' ||
        name.front() == ' ' || name.back() == ' ') {
        return false;
    }
    return std::none_of(name.begin(), name.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte < 0x20 || byte == 0x7F || c == '/' || c == '\\' || c == '=' || c == '[' ||
               c == ']';
    });
}

bool IsValidNodePath(std::string_view path, bool allowRoot)
{
    if (path.empty()) {
        return allowRoot;
    }
    size_t start = 0;
    while (true) {
        const size_t slash = path.find('/', start);
        const std::string_view name = path.substr(start, slash - start);
        if (!IsValidName(name)) {
            return false;
        }
        if (slash == std::string_view::npos) {
            return true;
        }
        start = slash + 1;
    }
}

NodeLocation LocateNode(std::string_view path)
{
    const size_t slash = path.rfind('/');
    if (slash == std::string_view::npos) {
        return {std::string_view(), path};
    }
    return {path.substr(0, slash), path.substr(slash + 1)};
}

IniDocument::IniDocument() : sections(1) {}

const std::string* IniDocument::FindValue(std::string_view node) const
{
    const NodeLocation location = LocateNode(node);
    const IniSection* section = FindSection(location.section);
    if (section == nullptr) {
        return nullptr;
    }
    for (const IniEntry& entry : section->entries) {
        if (entry.key == location.key) {
            return &entry.value;
        }
    }
    return nullptr;
}

bool IniDocument::NodeExists(std::string_view node) const
{
    return node.empty() || FindSection(node) != nullptr || FindValue(node) != nullptr;
}

void IniDocument::SetValue(std::string_view node, std::string value)
{
    const NodeLocation location = LocateNode(node);
    IniSection& section = ObtainSection(location.section);
    for (IniEntry& entry : section.entries) {
        if (entry.key == location.key) {
            entry.value = std::move(value);
            return;
        }
    }
    section.entries.push_back({std::string(location.key), std::move(value)});
}

const IniSection* IniDocument::FindSection(std::string_view name) const
{
    const auto found = std::find_if(sections.begin(), sections.end(),
                                    [name](const IniSection& s) { return s.name == name; });
    return found != sections.end() ? &*found : nullptr;
}

IniSection* IniDocument::FindSection(std::string_view name)
{
    return const_cast<IniSection*>(std::as_const(*this).FindSection(name));
}

IniSection& IniDocument::ObtainSection(std::string_view name)
{
    if (IniSection* section = FindSection(name)) {
        return *section;
    }
    sections.push_back({std::string(name), {}, {}});
    return sections.back();
}

}  // namespace Praxen
