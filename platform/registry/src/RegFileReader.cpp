// Reads the text regedit writes. Every line is checked; the first problem ends the read with an
// error naming its line.
#include <optional>

#include "RegFileFormat.h"
#include "Registry/RegFile.h"

namespace Platform::Registry {
namespace {

using Text = std::u16string_view;

struct Failure
{
    std::string message;
};

bool IsSpace(char16_t c)
{
    return c == u' ' || c == u'\t';
}

Text Trim(Text text)
{
    while (!text.empty() && IsSpace(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && IsSpace(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

int HexDigit(char16_t c)
{
    if (c >= u'0' && c <= u'9') {
        return c - u'0';
    }
    if (c >= u'a' && c <= u'f') {
        return c - u'a' + 10;
    }
    if (c >= u'A' && c <= u'F') {
        return c - u'A' + 10;
    }
    return -1;
}

// 1 to 8 hex digits.
std::optional<uint32_t> ParseHex32(Text text)
{
    if (text.empty() || text.size() > 8) {
        return std::nullopt;
    }
    uint32_t value = 0;
    for (char16_t c : text) {
        const int digit = HexDigit(c);
        if (digit < 0) {
            return std::nullopt;
        }
        value = value << 4 | static_cast<uint32_t>(digit);
    }
    return value;
}

bool StartsWith(Text text, Text prefix)
{
    return text.substr(0, prefix.size()) == prefix;
}

// A quoted text starting at text[0] == '"', with \\ and \" escapes. Consumes it from text.
std::u16string ParseQuoted(Text& text, const char* what)
{
    std::u16string out;
    size_t i = 1;
    for (;; ++i) {
        if (i >= text.size()) {
            throw Failure{std::string(what) + " has no closing quote"};
        }
        const char16_t c = text[i];
        if (c == u'"') {
            break;
        }
        if (c == u'\\') {
            if (i + 1 >= text.size() || (text[i + 1] != u'\\' && text[i + 1] != u'"')) {
                throw Failure{std::string(what) +
                              " has a backslash that escapes neither '\\' nor '\"'"};
            }
            ++i;
        }
        out += text[i];
    }
    text.remove_prefix(i + 1);
    return out;
}

std::vector<uint8_t> ParseHexBytes(Text text)
{
    std::vector<uint8_t> bytes;
    text = Trim(text);
    if (text.empty()) {
        return bytes;
    }
    for (;;) {
        const size_t comma = text.find(u',');
        const Text token = Trim(text.substr(0, comma));
        if (token.empty() || token.size() > 2) {
            throw Failure{"hex data must be bytes of one or two hex digits separated by commas"};
        }
        const auto value = ParseHex32(token);
        if (!value) {
            throw Failure{"hex data holds a character that is not a hex digit"};
        }
        if (bytes.size() >= RegFormat::kMaxValueBytes) {
            throw Failure{"a value holds more than 1 MiB of data"};
        }
        bytes.push_back(static_cast<uint8_t>(*value));
        if (comma == Text::npos) {
            return bytes;
        }
        text.remove_prefix(comma + 1);
    }
}

void CheckKeyPath(Text path)
{
    if (path.empty()) {
        throw Failure{"a key line names no key"};
    }
    if (path.front() == u'-') {
        throw Failure{"key deletions ('[-...]') are not supported"};
    }
    size_t start = 0;
    bool first = true;
    for (;;) {
        const size_t end = path.find(u'\\', start);
        const Text part = path.substr(start, end == Text::npos ? Text::npos : end - start);
        if (part.empty()) {
            throw Failure{"a key path has an empty key name"};
        }
        if (part.size() > RegFormat::kMaxKeyNameChars) {
            throw Failure{"a key name is longer than 255 characters"};
        }
        for (char16_t c : part) {
            if (c < 0x20) {
                throw Failure{"a key name holds a control character"};
            }
        }
        if (first) {
            bool known = false;
            for (Text hive : RegFormat::kHives) {
                known = known || part == hive;
            }
            if (!known) {
                throw Failure{"unknown hive '" + Utf16ToUtf8(part) +
                              "' (HKEY_LOCAL_MACHINE or HKEY_CURRENT_USER)"};
            }
            first = false;
        }
        if (end == Text::npos) {
            return;
        }
        start = end + 1;
    }
}

std::vector<uint8_t> StringData(const std::u16string& text)
{
    std::vector<uint8_t> data;
    for (char16_t c : text) {
        data.push_back(static_cast<uint8_t>(c & 0xFF));
        data.push_back(static_cast<uint8_t>(c >> 8));
    }
    data.push_back(0);
    data.push_back(0);
    return data;
}

std::u16string Decode(const std::vector<uint8_t>& bytes)
{
    if (bytes.size() > RegFormat::kMaxFileBytes) {
        throw Failure{"the file is larger than 64 MiB"};
    }
    if (bytes.size() >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE) {
        if (bytes.size() % 2 != 0) {
            throw Failure{"the UTF-16 file has an odd number of bytes"};
        }
        std::u16string text;
        for (size_t i = 2; i < bytes.size(); i += 2) {
            text += static_cast<char16_t>(bytes[i] | bytes[i + 1] << 8);
        }
        return text;
    }
    if (bytes.size() >= 2 && bytes[0] == 0xFE && bytes[1] == 0xFF) {
        throw Failure{"big-endian UTF-16 files are not supported"};
    }
    std::string_view narrow(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    if (narrow.substr(0, 3) == "\xEF\xBB\xBF") {
        narrow.remove_prefix(3);
    }
    std::u16string text;
    if (!Utf8ToUtf16(narrow, &text)) {
        throw Failure{"the file is neither UTF-16LE with a byte-order mark nor valid UTF-8"};
    }
    return text;
}

std::vector<Text> SplitLines(Text text)
{
    std::vector<Text> lines;
    size_t start = 0;
    for (size_t i = 0; i <= text.size(); ++i) {
        if (i == text.size() || text[i] == u'\n' || text[i] == u'\r') {
            lines.push_back(text.substr(start, i - start));
            if (i + 1 < text.size() && text[i] == u'\r' && text[i + 1] == u'\n') {
                ++i;
            }
            start = i + 1;
        }
    }
    return lines;
}

class Reader
{
public:
    explicit Reader(std::vector<Text> lines) : lines_(std::move(lines)) {}

    std::vector<RegFileKey> Read()
    {
        bool header = false;
        for (index_ = 0; index_ < lines_.size(); ++index_) {
            const Text line = Trim(lines_[index_]);
            if (line.empty() || line.front() == u';') {
                continue;
            }
            if (!header) {
                if (line != RegFormat::kHeader) {
                    throw Failure{
                        "the first line must be \"Windows Registry Editor Version 5.00\""};
                }
                header = true;
            } else if (line.front() == u'[') {
                if (line.back() != u']') {
                    throw Failure{"a key line must end with ']'"};
                }
                const Text path = line.substr(1, line.size() - 2);
                CheckKeyPath(path);
                keys_.push_back(RegFileKey{std::u16string(path), {}});
            } else if (line.front() == u'"' || line.front() == u'@') {
                if (keys_.empty()) {
                    throw Failure{"a value comes before any key"};
                }
                keys_.back().values.push_back(ReadValue(line));
            } else {
                throw Failure{"a line must be a key in brackets, a value, or a comment"};
            }
        }
        if (!header) {
            index_ = SIZE_MAX;
            throw Failure{"the file lacks the \"Windows Registry Editor Version 5.00\" line"};
        }
        return std::move(keys_);
    }

    size_t Line() const { return index_ == SIZE_MAX ? 0 : index_ + 1; }

private:
    std::pair<std::u16string, Value> ReadValue(Text line)
    {
        std::u16string name;
        if (line.front() == u'@') {
            line.remove_prefix(1);
        } else {
            name = ParseQuoted(line, "a value name");
            if (name.size() > RegFormat::kMaxValueNameChars) {
                throw Failure{"a value name is longer than 16383 characters"};
            }
            for (char16_t c : name) {
                if (c < 0x20) {
                    throw Failure{"a value name holds a control character"};
                }
            }
        }
        line = Trim(line);
        if (line.empty() || line.front() != u'=') {
            throw Failure{"expected '=' after the value name"};
        }
        line = Trim(line.substr(1));
        Value value;
        if (!line.empty() && line.front() == u'"') {
            const std::u16string text = ParseQuoted(line, "a string value");
            if (!Trim(line).empty()) {
                throw Failure{"text follows the closing quote of a string value"};
            }
            value.type = kRegSz;
            value.data = StringData(text);
        } else if (StartsWith(line, u"dword:")) {
            const auto number = ParseHex32(line.substr(6));
            if (!number) {
                throw Failure{"a dword value needs 1 to 8 hex digits"};
            }
            value.type = kRegDword;
            for (int i = 0; i < 4; ++i) {
                value.data.push_back(static_cast<uint8_t>(*number >> (8 * i)));
            }
        } else if (StartsWith(line, u"hex:") || StartsWith(line, u"hex(")) {
            value.type = kRegBinary;
            if (line[3] == u'(') {
                const size_t close = line.find(u"):");
                const auto type =
                    close == Text::npos ? std::nullopt : ParseHex32(line.substr(4, close - 4));
                if (!type) {
                    throw Failure{"a hex value's type must be 'hex(N):' with N in hex digits"};
                }
                value.type = *type;
                line.remove_prefix(close + 2);
            } else {
                line.remove_prefix(4);
            }
            value.data = ParseHexBytes(JoinContinuation(line));
        } else if (line == u"-") {
            throw Failure{"value deletions ('=-') are not supported"};
        } else {
            throw Failure{"a value must be a quoted string, dword:, hex: or hex(N):"};
        }
        return {std::move(name), std::move(value)};
    }

    // Hex data may go on over lines that end with a backslash.
    std::u16string JoinContinuation(Text first)
    {
        std::u16string data(first);
        while (!data.empty() && data.back() == u'\\') {
            data.pop_back();
            if (++index_ >= lines_.size()) {
                index_ = lines_.size() - 1;
                throw Failure{"the file ends inside a value continued with '\\'"};
            }
            if (data.size() > 4 * RegFormat::kMaxValueBytes) {
                throw Failure{"a value holds more than 1 MiB of data"};
            }
            const Text next = Trim(lines_[index_]);
            if (next.empty()) {
                throw Failure{"a value continued with '\\' is followed by an empty line"};
            }
            data += next;
        }
        return data;
    }

    std::vector<Text> lines_;
    std::vector<RegFileKey> keys_;
    size_t index_ = 0;
};

}  // namespace

std::string RegFileError::Describe() const
{
    return line == 0 ? message : "line " + std::to_string(line) + ": " + message;
}

std::optional<std::vector<RegFileKey>> ReadRegFile(const std::vector<uint8_t>& bytes,
                                                   RegFileError* error)
{
    std::u16string text;
    try {
        text = Decode(bytes);
    } catch (const Failure& failure) {
        *error = RegFileError{0, failure.message};
        return std::nullopt;
    }
    Reader reader(SplitLines(text));
    try {
        return reader.Read();
    } catch (const Failure& failure) {
        *error = RegFileError{reader.Line(), failure.message};
        return std::nullopt;
    }
}

}  // namespace Platform::Registry
