#pragma once
// Reads a whole skin or string-table document: "::" and a name is a resource of type "ORVXML" of
// the resource module, anything else a file.

#include <cstdint>
#include <vector>

#include "Utilities/Storage/StringT.h"

namespace Orv {

enum class DocumentRead
{
    Done,
    Missing,  // not found, not opened, or failing while read
    OutOfMemory,
};

// The document's bytes, replacing what `document` held.
DocumentRead ReadDocumentBytes(const WideString& path, std::vector<uint8_t>& document);

}  // namespace Orv
