#pragma once
// Writes settings-file text, and replaces a file with new text atomically.

#include <string>
#include <string_view>

#include "IniDocument.h"

namespace Praxen {

// The file text of a document; ParseIni reads it back to an equal document.
std::string FormatIni(const IniDocument& document, std::string_view version,
                      std::string_view product);

}  // namespace Praxen
