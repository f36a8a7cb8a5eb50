// Writes the text regedit writes: strings quoted, dwords as dword:, everything else as hex bytes
// wrapped at 80 columns. A string that would not read back the same (no terminator, an inner
// terminator, a line break) is written as hex(1) so its bytes survive exactly.
#include "RegFileFormat.h"
#include "Registry/RegFile.h"

namespace Platform::Registry {
namespace {

void AppendQuoted(std::u16string& out, std::u16string_view text)
{
    out += u'"';
    for (char16_t c : text) {
        if (c == u'\\' || c == u'"') {
            out += u'\\';
        }
        out += c;
    }
    out += u'"';
}

bool AsQuotedString(const Value& value, std::u16string* text)
{
    if (value.type != kRegSz || value.data.size() < 2 || value.data.size() % 2 != 0) {
        return false;
    }
    text->clear();
    for (size_t i = 0; i + 2 < value.data.size(); i += 2) {
        const char16_t c = static_cast<char16_t>(value.data[i] | value.data[i + 1] << 8);
        if (c == 0 || c == u'\r' || c == u'\n') {
            return false;
        }
        *text += c;
    }
    return value.data[value.data.size() - 2] == 0 && value.data.back() == 0;
}

void AppendHex(std::u16string& out, const Value& value)
{
    static const char16_t kDigits[] = u"0123456789abcdef";
    if (value.type == kRegBinary) {
        out += u"hex:";
    } else {
        out += u"hex(";
        bool started = false;
        for (int shift = 28; shift >= 0; shift -= 4) {
            const uint32_t digit = (value.type >> shift) & 0xF;
            if (digit != 0 || started || shift == 0) {
                out += kDigits[digit];
                started = true;
            }
        }
        out += u"):";
    }
    size_t column = out.size() - out.rfind(u'\n') - 1;
    for (size_t i = 0; i < value.data.size(); ++i) {
        out += kDigits[value.data[i] >> 4];
        out += kDigits[value.data[i] & 0xF];
        column += 2;
        if (i + 1 < value.data.size()) {
            out += u',';
            ++column;
            if (column > 76) {
                out += u"\\\r\n  ";
                column = 2;
            }
        }
    }
}

}  // namespace

std::vector<uint8_t> WriteRegFile(const std::vector<RegFileKey>& keys)
{
    std::u16string text(RegFormat::kHeader);
    text += u"\r\n\r\n";
    for (const RegFileKey& key : keys) {
        text += u'[';
        text += key.path;
        text += u"]\r\n";
        for (const auto& [name, value] : key.values) {
            if (name.empty()) {
                text += u'@';
            } else {
                AppendQuoted(text, name);
            }
            text += u'=';
            std::u16string quoted;
            if (AsQuotedString(value, &quoted)) {
                AppendQuoted(text, quoted);
            } else if (value.type == kRegDword && value.data.size() == 4) {
                static const char16_t kDigits[] = u"0123456789abcdef";
                text += u"dword:";
                for (int i = 3; i >= 0; --i) {
                    text += kDigits[value.data[i] >> 4];
                    text += kDigits[value.data[i] & 0xF];
                }
            } else {
                AppendHex(text, value);
            }
            text += u"\r\n";
        }
        text += u"\r\n";
    }
    std::vector<uint8_t> bytes{0xFF, 0xFE};
    bytes.reserve(2 + text.size() * 2);
    for (char16_t c : text) {
        bytes.push_back(static_cast<uint8_t>(c & 0xFF));
        bytes.push_back(static_cast<uint8_t>(c >> 8));
    }
    return bytes;
}

}  // namespace Platform::Registry
