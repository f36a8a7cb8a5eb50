// Arbitrary bytes through the .reg reader: never a crash; whatever it accepts is written and read
// back to the same keys and values, and written again to the same bytes.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "Registry/RegFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace Platform::Registry;
    const std::vector<uint8_t> bytes(data, data + size);
    RegFileError error;
    const auto keys = ReadRegFile(bytes, &error);
    if (!keys) {
        if (error.message.empty()) {
            std::abort();  // a refusal always says why
        }
        return 0;
    }
    const std::vector<uint8_t> written = WriteRegFile(*keys);
    const auto again = ReadRegFile(written, &error);
    if (!again || again->size() != keys->size()) {
        std::abort();
    }
    for (size_t k = 0; k < keys->size(); ++k) {
        if ((*again)[k].path != (*keys)[k].path || (*again)[k].values != (*keys)[k].values) {
            std::abort();
        }
    }
    if (WriteRegFile(*again) != written) {
        std::abort();
    }
    return 0;
}
