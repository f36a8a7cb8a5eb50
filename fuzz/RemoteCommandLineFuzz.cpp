// Arbitrary bytes as another instance's WM_COPYDATA command line: read only within the bytes
// sent (an exact-size copy, watched by AddressSanitizer), never past the first zero, and the text
// that comes out is legal UTF-16 whose legal UTF-8 parts are the input's.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "ControlBase/RemoteCommandLine.h"

namespace {

void Check(bool condition)
{
    if (!condition) {
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::unique_ptr<uint8_t[]> copy(new uint8_t[size > 0 ? size : 1]);
    if (size > 0) {
        std::memcpy(copy.get(), data, size);
    }
    const Orv::WideString text =
        Orv::DecodeRemoteCommandLine(size > 0 ? copy.get() : nullptr, static_cast<uint32_t>(size));
    const void* zero = size > 0 ? std::memchr(copy.get(), 0, size) : nullptr;
    const size_t read = zero != nullptr
                            ? static_cast<size_t>(static_cast<const uint8_t*>(zero) - copy.get())
                            : size;
    // One unit at most per byte read, and no zero inside.
    Check(static_cast<size_t>(text.GetLength()) <= read);
    const char16_t* units = text.GetText();
    for (int32_t i = 0; i < text.GetLength(); ++i) {
        Check(units[i] != 0);
        // Surrogates only in pairs.
        if (units[i] >= 0xD800 && units[i] < 0xDC00) {
            Check(i + 1 < text.GetLength() && units[i + 1] >= 0xDC00 && units[i + 1] < 0xE000);
            ++i;
        } else {
            Check(!(units[i] >= 0xDC00 && units[i] < 0xE000));
        }
    }
    // Plain ASCII comes through unchanged.
    bool ascii = true;
    for (size_t i = 0; i < read; ++i) {
        ascii = ascii && copy[i] < 0x80;
    }
    if (ascii) {
        Check(static_cast<size_t>(text.GetLength()) == read);
        for (size_t i = 0; i < read; ++i) {
            Check(units[i] == copy[i]);
        }
    }
    return 0;
}
