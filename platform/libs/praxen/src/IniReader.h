#pragma once
// Reads settings-file text. The text comes from disk and may have been written by anyone, so
// every rule of the format is checked and a text that breaks one is refused whole.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "IniDocument.h"

namespace Praxen {

struct IniParseError
{
    size_t line;  // 1-based; 0 for the text as a whole
    std::string reason;
};

// The document, or the first error found.
std::optional<IniParseError> ParseIni(std::string_view text, IniDocument& document);

}  // namespace Praxen
