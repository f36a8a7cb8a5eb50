// Arbitrary bytes through the UTF-8 -> UTF-16 -> UTF-8 converters: legal input comes back byte
// for byte; anything else is refused with the cursor on the offending character, never read or
// written outside the given ranges (AddressSanitizer watches the exact-size buffers).
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "Utilities/Storage/StringT.h"
#include "Utilities/Storage/Utf.h"

namespace {

void Check(bool condition)
{
    if (!condition) {
        std::abort();
    }
}

void RoundTripUtf8(const char* bytes, std::size_t size, bool lenient)
{
    // Exact-size heap copies, so a read or write past either end is caught.
    std::unique_ptr<char[]> source(new char[size + 1]);
    std::memcpy(source.get(), bytes, size);
    std::unique_ptr<char16_t[]> wide(new char16_t[size + 1]);
    const char* in = source.get();
    char16_t* out = wide.get();
    const auto result =
        Orv::ConvertUtf8ToUtf16(&in, source.get() + size, &out, wide.get() + size, lenient);
    Check(in >= source.get() && in <= source.get() + size);
    Check(out >= wide.get() && out <= wide.get() + size);
    Check((result == Orv::ConversionOK) == (in == source.get() + size));
    Check(result != Orv::TargetExhausted);

    // What was converted (the whole text, or the part before the refusal) comes back exactly.
    const std::size_t consumed = static_cast<std::size_t>(in - source.get());
    const std::size_t units = static_cast<std::size_t>(out - wide.get());
    std::unique_ptr<char[]> back(new char[consumed + 1]);
    const char16_t* wideIn = wide.get();
    char* backOut = back.get();
    Check(Orv::ConvertUtf16ToUtf8(&wideIn, wide.get() + units, &backOut, back.get() + consumed,
                                  false) == Orv::ConversionOK);
    Check(static_cast<std::size_t>(backOut - back.get()) == consumed);
    Check(std::memcmp(back.get(), source.get(), consumed) == 0);
}

void RoundTripUtf16(const uint8_t* bytes, std::size_t size)
{
    const std::size_t units = size / 2;
    std::unique_ptr<char16_t[]> source(new char16_t[units + 1]);
    std::memcpy(source.get(), bytes, units * 2);
    std::unique_ptr<char[]> narrow(new char[3 * units + 1]);
    const char16_t* in = source.get();
    char* out = narrow.get();
    const auto result =
        Orv::ConvertUtf16ToUtf8(&in, source.get() + units, &out, narrow.get() + 3 * units, false);
    Check(result != Orv::TargetExhausted);
    const std::size_t consumed = static_cast<std::size_t>(in - source.get());
    const std::size_t written = static_cast<std::size_t>(out - narrow.get());
    std::unique_ptr<char16_t[]> back(new char16_t[consumed + 1]);
    const char* narrowIn = narrow.get();
    char16_t* backOut = back.get();
    Check(Orv::ConvertUtf8ToUtf16(&narrowIn, narrow.get() + written, &backOut,
                                  back.get() + consumed, false) == Orv::ConversionOK);
    Check(static_cast<std::size_t>(backOut - back.get()) == consumed);
    Check(std::memcmp(back.get(), source.get(), consumed * 2) == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const char* bytes = reinterpret_cast<const char*>(data);
    RoundTripUtf8(bytes, size, false);
    RoundTripUtf8(bytes, size, true);
    RoundTripUtf16(data, size);

    // Through the strings: a wide string made from the bytes converts back to a prefix of them.
    const Orv::WideString wide(bytes, static_cast<int32_t>(size));
    const Orv::NarrowString narrow = wide.ToNarrow();
    Check(static_cast<std::size_t>(narrow.GetLength()) <= size);
    Check(std::memcmp(narrow.GetText(), bytes, static_cast<std::size_t>(narrow.GetLength())) == 0);
    return 0;
}
