#pragma once
// Read access to a rectangle of pixels for code that uploads or copies them (textures, glyphs).

#include <cstdint>

namespace Orv {

template <class T>
class IPixelBuffer
{
public:
    virtual int32_t GetWidth() const = 0;
    virtual int32_t GetHeight() const = 0;
    // Bytes from one row to the next.
    virtual int32_t GetRowLength() const = 0;
    // The pixel at column x of row y; null outside the buffer.
    virtual const T* GetPixelAddress(int32_t x, int32_t y) const = 0;
    virtual T* GetPixelAddress(int32_t x, int32_t y) = 0;

protected:
    ~IPixelBuffer() = default;
};

}  // namespace Orv
