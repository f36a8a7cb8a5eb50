#pragma once
// The values and lists that cross Ulvane's boundary, as the library sees them. The program hands
// over objects of its own class and the library hands back objects of this one, so the two must
// agree byte for byte: the checks that they do stand where both are seen, in the program's tests.
//
// A value is 24 bytes: the table of its virtual operations (in the order declared below), the
// value (8 bytes: a scalar in its low bytes, or the address of a block), the size of the block
// (uint32) and the type code (int32). A value the caller passes in stays the caller's object:
// the library reads its fields and fills it only through the object's own FreeBlock and
// AllocateBlock, so every block goes back to the allocator it came from. The library's own
// values, the lists its receive callback hands out, answer every operation.
//
// A list's block holds its items one after another, unaligned, with no header, padding or end
// mark; each item is a 12-byte header of little-endian uint32s (length = 12 + payload size,
// format = 1, type code) and the payload: a scalar's bytes, a text with its zero byte, a blob's
// bytes or a nested list's block.
//
// The parameter records are lists of fixed shapes:
//   descriptor  [id (int32), sub-index]          a ParamDescriptors list holds these
//   value       [value, id (int32), sub-index]   a ParamValues list holds these
//   range       [first id (int32), count (int32)] a ParamRanges list holds these
// An empty sub-index names the whole value; an int32 one, an entry of a list value.

#include <cstdint>
#include <span>
#include <vector>

namespace Ulvane {

enum ValueType : int32_t
{
    kValueEmpty = 0,
    kValueBool = 1,
    kValueInt8 = 2,
    kValueUInt8 = 3,
    kValueInt16 = 4,
    kValueUInt16 = 5,
    kValueInt32 = 6,
    kValueUInt32 = 7,
    kValueFloat = 8,
    kValueDouble = 9,
    kValueInt64 = 10,
    kValueUInt64 = 11,
    kValueExternal = 12,        // memory of the caller's, referred to, not owned
    kValueExternalOpaque = 13,  // as 12
    kValueBlob = 14,
    kValueText = 15,  // UTF-8 and its zero byte; size = length + 1
    kValueList = 16,  // an empty list has no block and size 0
    kValueTypeCount = 17,
};

inline constexpr uint32_t kListItemHeaderSize = 12;
inline constexpr uint32_t kListItemLengthOffset = 0;
inline constexpr uint32_t kListItemFormatOffset = 4;
inline constexpr uint32_t kListItemTypeOffset = 8;
inline constexpr uint32_t kListItemFormat = 1;

// The bytes of a scalar type's value (its payload in a list); 0 for the other types.
constexpr uint32_t ScalarSize(int32_t code)
{
    switch (code) {
        case kValueBool:
        case kValueInt8:
        case kValueUInt8:
            return 1;
        case kValueInt16:
        case kValueUInt16:
            return 2;
        case kValueInt32:
        case kValueUInt32:
        case kValueFloat:
            return 4;
        case kValueDouble:
        case kValueInt64:
        case kValueUInt64:
            return 8;
        default:
            return 0;
    }
}

class Value
{
public:
    Value() = default;
    // Copies take their block from this object's allocator.
    Value(const Value& other);
    Value& operator=(const Value& other);

    // The virtual operations, in the order of the table.
    virtual ~Value();
    // Read as another kind than its own, a scalar converts as C++ converts it, a floating-point
    // value truncated toward zero (0 when out of range or NaN); every other type reads as 0, or,
    // as a bool, as whether it holds any byte.
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
    // The value's bytes: a scalar's, a block's or external data's; (null, 0) when empty.
    virtual const void* GetData(int32_t& size) const;
    // As GetData, but (null, 0) for lists and opaque external data.
    virtual const void* GetBytes(int32_t& size) const;
    // A text's characters, null for every other type.
    virtual const char* GetString() const;
    virtual void* AllocateBlock(uint32_t size);
    virtual void FreeBlock(void* block);

    // The library's own operations: none of them is part of the table.
    int32_t GetType() const { return type; }
    uint32_t GetSize() const { return size; }
    bool IsEmpty() const { return type == kValueEmpty; }
    bool IsList() const { return type == kValueList; }
    // Same type and the same bytes (external data: the same address and size).
    bool operator==(const Value& other) const;

    // Empty again, an owned block given back.
    void Clear();
    Value& SetBool(bool flag);
    Value& SetInt32(int32_t number);
    Value& SetDouble(double number);
    // False, and empty, when no block could be had.
    bool SetText(const char* text);
    bool SetBlob(const void* data, uint32_t count);
    // The value of `code` from `count` bytes: a scalar's exact bytes, or a copy into a block of
    // this object's allocator (a text's bytes end with its zero byte). False, and empty, for
    // external data, a scalar of another size or when no block could be had.
    bool Set(int32_t code, const void* data, uint32_t count);
    // The list of the items in order (ValueList.cpp).
    bool SetList(const std::vector<Value>& items);
    // Every item of a list, each whole and valid; false, with no items, for anything else. The
    // bytes come from outside: nothing beyond them is read.
    bool ReadList(std::vector<Value>& items) const;

    // Where the fields lie: defined only by the checks of this layout.
    struct Layout;

private:
    template <class T>
    T Low() const;
    template <class T>
    T Converted() const;
    uint8_t* Block() const;
    bool OwnsBlock() const;
    // What GetData gives, and what a list holds as the item's payload.
    std::span<const uint8_t> Bytes() const;

    uint64_t value = 0;
    uint32_t size = 0;
    int32_t type = kValueEmpty;
};

// A parameter's address, as QELT_GetParamValue and QELT_SetParamValue take it.
struct ParamDescriptor
{
    int32_t id = -1;
    Value subIndex;
};

}  // namespace Ulvane
