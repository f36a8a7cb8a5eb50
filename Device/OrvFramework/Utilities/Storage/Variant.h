#pragma once
// Variant: the framework's tagged value, one of the VariantType codes. Scalars live inline in the
// value field; byte blocks, texts and lists live in one block that the variant obtains and gives
// back only through its own AllocateBlock and FreeBlock, so a block always returns to the
// allocator it came from, whoever filled the variant. A list is a block of serialised items (see
// Utilities/Storage/VariantListFormat.h), not a container of variant objects.
//
// Every getter converts: any variant read as any scalar kind has a defined result. Floating-point
// values round half away from zero.
//
// The object layout and the order of the virtual operations are shared with the outside device
// library, which reads and fills variants in place: table pointer, value (8 bytes), size (uint32),
// type (int32), 24 bytes in all; do not add fields or reorder the virtual operations.

#include <cstdint>
#include <cstring>
#include <type_traits>

#include "ObjectBase/OrvResult.h"

namespace Orv {

template <class Char, class OtherChar>
class StringT;

enum VariantType : int32_t
{
    kVariantEmpty = 0,
    kVariantBool = 1,
    kVariantInt8 = 2,
    kVariantUInt8 = 3,
    kVariantInt16 = 4,
    kVariantUInt16 = 5,
    kVariantInt32 = 6,
    kVariantUInt32 = 7,
    kVariantFloat = 8,
    kVariantDouble = 9,
    kVariantInt64 = 10,
    kVariantUInt64 = 11,
    // Data that the variant refers to but does not own (no framework operation creates them).
    kVariantExternalData = 12,
    kVariantExternalOpaque = 13,  // as 12, but GetBytes does not expose it
    kVariantBlob = 14,
    kVariantString = 15,  // UTF-8 text and its terminating zero byte; size = length + 1
    kVariantList = 16,    // serialised items; an empty list has no block and size 0
    kVariantTypeCount = 17,
};

// The results of the parameter-list readers (GetParamValueItem and Utilities/Storage/ParamLists.h).
inline constexpr int32_t kParamListUnreadable = -4;
inline constexpr int32_t kParamItemMisshapen = -7;

class Variant
{
public:
    Variant() = default;
    // A copy whose block comes from this variant's allocator.
    Variant(const Variant& other);
    virtual ~Variant();

    // The virtual operations, in the order the outside library relies on.
    virtual bool GetBool() const;
    virtual int8_t GetInt8() const;
    virtual int16_t GetInt16() const;
    virtual int32_t GetInt32() const;
    virtual int64_t GetInt64() const;
    virtual uint8_t GetUInt8() const;
    virtual uint16_t GetUInt16() const;
    virtual uint32_t GetUInt32() const;
    virtual uint64_t GetUInt64() const;
    virtual float GetFloat() const;
    virtual double GetDouble() const;
    // The bytes of the value: the value field for scalars, the block or external data otherwise;
    // (null, 0) for an empty variant.
    virtual const void* GetData(int32_t& size) const;
    // As GetData, but (null, 0) for codes 13 and 16.
    virtual const void* GetBytes(int32_t& size) const;
    // The text of code 15, null otherwise.
    virtual const char* GetString() const;
    virtual void* AllocateBlock(uint32_t size);
    virtual void FreeBlock(void* block);

    // The copy; Assign gives the resulting type code (0 when the block could not be allocated).
    Variant& operator=(const Variant& other);
    int32_t Assign(const Variant& other);

    // Empty again, an owned block given back.
    void Clear();
    // The value of `type` from `size` bytes at data. Scalars need their exact size; 12 and 13 are
    // stored as a private copy (14); 15 reads the text up to its zero byte (size is not used); 16
    // takes the bytes as a serialised list without examining them. Result: the code stored, 0
    // when the variant stayed empty.
    int32_t Set(uint32_t type, const void* data, uint32_t size);
    // A copy of the bytes (14). A null text is the empty text (15).
    int32_t SetBlob(const void* data, uint32_t size);
    int32_t SetString(const char* text);
    // The wide text as UTF-8 (15), encoded as the string's ToNarrow does; null is the empty text.
    int32_t SetString(const StringT<char16_t, char>& text);
    int32_t SetString(const char16_t* text);

    Variant& SetBool(bool value);
    Variant& SetInt8(int8_t value);
    Variant& SetUInt8(uint8_t value);
    Variant& SetInt16(int16_t value);
    Variant& SetUInt16(uint16_t value);
    Variant& SetInt32(int32_t value);
    Variant& SetUInt32(uint32_t value);
    Variant& SetFloat(float value);
    Variant& SetDouble(double value);
    Variant& SetInt64(int64_t value);
    Variant& SetUInt64(uint64_t value);

    // Assigning a double gives back an owned block and stores the value (9). Other arithmetic
    // types are refused, so that an int is not stored as a double by accident.
    Variant& operator=(double value) { return SetDouble(value); }
    template <class T>
    requires(std::is_arithmetic_v<T> && !std::is_same_v<T, double>) Variant& operator=(T) = delete;

    // Same code and same value: NaN never equals itself, +0 equals -0, blocks by their bytes,
    // external data by pointer and size.
    bool operator==(const Variant& other) const;
    bool operator!=(const Variant& other) const { return !(*this == other); }

    int32_t GetType() const { return type; }
    uint32_t GetSize() const { return size; }
    bool IsEmpty() const { return type == kVariantEmpty; }
    bool IsList() const { return type == kVariantList; }

    // Lists (Utilities/Storage/VariantList.cpp).
    // This variant becomes the list of the items, in order (null pointers are empty items).
    int32_t SetList(const Variant* items, uint32_t count);
    int32_t SetList(const Variant* const* items, uint32_t count);
    // Whole items from the start, up to the first that is malformed or cut off.
    uint32_t GetListItemCount() const;
    // 0 with the item in out; -1 with out empty when there is no such item or it is malformed: a
    // malformed item is a failure, never 0 with a partly read value.
    int32_t GetListItem(uint32_t index, Variant& out) const;
    // One serialised item from at most `available` bytes into out: S_OK, or E_FAIL with out
    // untouched when the bytes are not one valid item.
    static ORVRESULT ReadListItem(Variant& out, const uint8_t* item, uint32_t available);
    // ReadListItem into this variant.
    ORVRESULT ReadItem(const uint8_t* bytes, uint32_t count);

    // Parameter-value lists (Utilities/Storage/ParamLists.cpp): item `index` read as the 3-item
    // list [value, id, sub-index]. 0; kParamListUnreadable when this is not a list or has no such
    // item, kParamItemMisshapen when the item is not a whole 3-item list. Unless 0, value and
    // sub-index are empty and id is -1.
    int32_t GetParamValueItem(uint32_t index, Variant& value, int32_t& id, Variant& subIndex) const;

    // Where the fields lie: defined only by the checks that the outside library's copy of this
    // layout agrees with it.
    struct Layout;

protected:
    uint8_t* Block() const;
    bool OwnsBlock() const;
    // Forgets the value without giving anything back, for a derived destructor that already did.
    void ForgetValue();

private:
    // Items all present (not null).
    int32_t WriteList(const Variant* const* items, uint32_t count);
    template <class T>
    Variant& StoreScalar(VariantType code, T value);
    template <class T>
    T LowBits() const;
    // Bytes for a block value that was allocated but not yet described: size and code are set
    // only once the block exists.
    void TakeBlock(void* block, uint32_t blockSize, VariantType code);
    bool PointsIntoBlock(const void* data) const;
    // Integer getters of every width share one rule set; see Variant.cpp.
    uint64_t IntegerValue(int width, bool isSigned) const;
    // The getters up to 32 bits: floating point rounded to 32 bits first, then cut.
    template <class T>
    T NarrowInteger() const;
    uint64_t BorrowedBytes(int width) const;

    uint64_t value = 0;  // scalars in their low bytes; the block or data address for 12-16
    uint32_t size = 0;   // bytes of the block or data, 12-16 only
    int32_t type = kVariantEmpty;
};

template <class T>
T Variant::LowBits() const
{
    T bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

static_assert(sizeof(Variant) == 24, "the outside library fills variants of this size in place");

}  // namespace Orv
