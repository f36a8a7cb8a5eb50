#pragma once
// VariantEx: a Variant that keeps its block in a counted buffer, converts any value to a wide text
// and reads every scalar kind of a text value by parsing the text ("42" reads as 42, where a plain
// Variant gives the text's length).

#include "ObjectBase/RCPtr.h"
#include "ObjectBase/Stringable.h"
#include "Utilities/Storage/LBuffer.h"
#include "Utilities/Storage/StringT.h"
#include "Utilities/Storage/Variant.h"

namespace Orv {

class VariantEx : public Variant, public IStringable
{
public:
    VariantEx() = default;
    VariantEx(const VariantEx& other);
    explicit VariantEx(const Variant& other);
    ~VariantEx() override;

    VariantEx& operator=(const VariantEx& other);
    VariantEx& operator=(const Variant& other);

    // A text value (code 15) parses its text; every other code reads as for Variant.
    bool GetBool() const override;
    int8_t GetInt8() const override;
    int16_t GetInt16() const override;
    int32_t GetInt32() const override;
    int64_t GetInt64() const override;
    uint8_t GetUInt8() const override;
    uint16_t GetUInt16() const override;
    uint32_t GetUInt32() const override;
    uint64_t GetUInt64() const override;
    float GetFloat() const override;
    double GetDouble() const override;
    // A new zero-filled counted buffer of `size` bytes, replacing the one held.
    void* AllocateBlock(uint32_t size) override;
    // Releases the buffer held; the argument is not used.
    void FreeBlock(void* block) override;

    using Variant::SetString;
    int32_t SetString(const StringT<char, char16_t>& text);

    // The value as text: "true"/"false", decimal integers (uint64 and addresses in upper-case
    // hexadecimal), "%f" for floating point, the text itself; empty for the empty variant.
    StringT<char16_t, char> ToString() const override;

    const RCPtr<LIBuffer>& GetBuffer() const { return buffer; }

private:
    bool IsText() const { return GetType() == kVariantString; }
    int ParsedInt() const;

    RCPtr<LIBuffer> buffer;
};

}  // namespace Orv
