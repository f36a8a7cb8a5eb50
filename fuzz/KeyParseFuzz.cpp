// Key texts from string tables: any text parses to some key, which displays and matches without
// fault, and parsing is a function of the text.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "System/KeyCode.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::u16string text;
    for (size_t i = 0; i + 1 < size; i += 2) {
        const char16_t unit = static_cast<char16_t>(data[i] | (data[i + 1] << 8));
        if (unit != 0) {
            text += unit;
        }
    }
    const Orv::WideString wide(text.c_str());
    const Orv::KeyCode key = Orv::KeyCode::Parse(wide);
    if ((key.code & 0x40000000u) != 0 || key.sideMask != 0 || key.wasDown) {
        std::abort();  // bit 30 is never set and parsed keys carry no sides or repeat
    }
    if (!key.Matches(Orv::KeyCode::Parse(wide))) {
        std::abort();
    }
    key.ToString();
    key.IsKeyDown();
    return 0;
}
