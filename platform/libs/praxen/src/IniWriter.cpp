#include "IniWriter.h"

namespace Praxen {
namespace {

void AppendEscaped(std::string& out, std::string_view value)
{
    for (const char c : value) {
        switch (c) {
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            default:
                out += c;
        }
    }
}

// The caller's texts go into a comment line: anything that would end the line is left out.
void AppendCommentText(std::string& out, std::string_view text)
{
    for (const char c : text) {
        if (static_cast<unsigned char>(c) >= 0x20) {
            out += c;
        }
    }
}

void AppendSectionBody(std::string& out, const IniSection& section)
{
    for (const IniEntry& entry : section.entries) {
        out += entry.key;
        out += '=';
        AppendEscaped(out, entry.value);
        out += '\n';
    }
    for (size_t i = 0; i < section.items.size(); ++i) {
        out += '@';
        out += std::to_string(i);
        out += '=';
        AppendEscaped(out, section.items[i]);
        out += '\n';
    }
}

}  // namespace

std::string FormatIni(const IniDocument& document, std::string_view version,
                      std::string_view product)
{
    std::string out = "; ";
    AppendCommentText(out, product);
    out += product.empty() ? "Settings" : " settings";
    if (!version.empty()) {
        out += ", version ";
        AppendCommentText(out, version);
    }
    out += '\n';
    for (const IniSection& section : document.Sections()) {
        if (!section.name.empty()) {
            out += '[';
            out += section.name;
            out += "]\n";
        }
        AppendSectionBody(out, section);
    }
    return out;
}

}  // namespace Praxen
