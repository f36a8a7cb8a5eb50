#include "IniReader.h"

#include <charconv>

#include "Praxen.h"

namespace Praxen {
namespace {

bool IsBlank(std::string_view line)
{
    return line.find_first_not_of(" \t") == std::string_view::npos;
}

std::optional<std::string> Unescape(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            out += text[i];
            continue;
        }
        if (++i == text.size()) {
            return std::nullopt;
        }
        switch (text[i]) {
            case '\\':
                out += '\\';
                break;
            case 'n':
                out += '\n';
                break;
            case 'r':
                out += '\r';
                break;
            default:
                return std::nullopt;
        }
    }
    return out;
}

// The number of an item key "@<n>" (decimal, no sign, no leading zero), or nullopt.
std::optional<size_t> ItemNumber(std::string_view key)
{
    if (key.size() < 2 || key.front() != '@' || (key[1] == '0' && key.size() > 2)) {
        return std::nullopt;
    }
    size_t number = 0;
    const char* end = key.data() + key.size();
    const auto [stop, error] = std::from_chars(key.data() + 1, end, number);
    if (error != std::errc() || stop != end) {
        return std::nullopt;
    }
    return number;
}

class Parser
{
public:
    explicit Parser(IniDocument& document)
        : document(document), section(&document.ObtainSection(""))
    {
    }

    // The reason the line is refused, or an empty text when it is taken.
    std::string_view ParseLine(std::string_view line)
    {
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        if (IsBlank(line) || line.front() == ';' || line.front() == '#') {
            return {};
        }
        if (line.front() == '[') {
            return ParseHeader(line);
        }
        return ParseEntry(line);
    }

private:
    std::string_view ParseHeader(std::string_view line)
    {
        if (line.back() != ']') {
            return "section header without closing ']'";
        }
        const std::string_view name = line.substr(1, line.size() - 2);
        if (!IsValidNodePath(name, false)) {
            return "invalid section name";
        }
        if (document.FindSection(name) != nullptr) {
            return "section appears twice";
        }
        section = &document.ObtainSection(name);
        return {};
    }

    std::string_view ParseEntry(std::string_view line)
    {
        const size_t equals = line.find('=');
        if (equals == std::string_view::npos) {
            return "line is neither a section, a key nor a comment";
        }
        const std::string_view key = line.substr(0, equals);
        std::optional<std::string> value = Unescape(line.substr(equals + 1));
        if (!value) {
            return "invalid escape in value";
        }
        if (key.front() == '@') {
            if (ItemNumber(key) != section->items.size()) {
                return "array items out of order";
            }
            section->items.push_back(std::move(*value));
            return {};
        }
        if (!IsValidName(key)) {
            return "invalid key name";
        }
        for (const IniEntry& entry : section->entries) {
            if (entry.key == key) {
                return "key appears twice in its section";
            }
        }
        section->entries.push_back({std::string(key), std::move(*value)});
        return {};
    }

    IniDocument& document;
    IniSection* section;
};

}  // namespace

std::optional<IniParseError> ParseIni(std::string_view text, IniDocument& document)
{
    if (static_cast<int64_t>(text.size()) > kPraxenMaxFileBytes) {
        return IniParseError{0, "file too large"};
    }
    if (text.find('\0') != std::string_view::npos) {
        return IniParseError{0, "file holds a NUL byte"};
    }
    IniDocument parsed;
    Parser parser(parsed);
    size_t lineNumber = 0;
    size_t start = 0;
    while (start < text.size()) {
        ++lineNumber;
        const size_t end = text.find('\n', start);
        const std::string_view line = text.substr(start, end - start);
        const std::string_view reason = parser.ParseLine(line);
        if (!reason.empty()) {
            return IniParseError{lineNumber, std::string(reason)};
        }
        start = end == std::string_view::npos ? text.size() : end + 1;
    }
    document = std::move(parsed);
    return std::nullopt;
}

}  // namespace Praxen
