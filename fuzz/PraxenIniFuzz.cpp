// Arbitrary bytes as a settings file: the reader either refuses them or gives a document that
// writes out and reads back equal. Never a crash (the sanitizers watch every access).
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "IniReader.h"
#include "IniWriter.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    Praxen::IniDocument document;
    if (Praxen::ParseIni(text, document)) {
        return 0;
    }
    Praxen::IniDocument reread;
    if (Praxen::ParseIni(Praxen::FormatIni(document, "1", "Fuzz"), reread) || reread != document) {
        std::abort();
    }
    return 0;
}
