// A resizable array of 32-bit values in non-paged pool, as the stream set keeps its peak meters.
// Not locked: its owner serialises every access.
#pragma once

#include <wdm.h>

class U32Array
{
public:
    U32Array() = default;
    ~U32Array() { Release(); }
    U32Array(const U32Array&) = delete;
    U32Array& operator=(const U32Array&) = delete;

    // Frees the old entries, then allocates count zeroed ones. On failure (or a size that does not
    // fit) the array is empty; answers whether it succeeded. Count 0 leaves it empty and succeeds.
    bool Resize(ULONG count);
    void Release();

    ULONG Count() const { return count_; }
    ULONG* Data() const { return data_; }

private:
    ULONG* data_ = nullptr;
    ULONG count_ = 0;
};
