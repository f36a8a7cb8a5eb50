#pragma once
// Global memory blocks and streams over them, as the program hands resource bytes to GDI+: copy
// into a movable block, open the block as a stream, let GDI+ read the stream.

#include "win32/ResultCodes.h"
#include "win32/Types.h"

struct HGLOBAL__;
using HGLOBAL = HGLOBAL__*;

#define GMEM_FIXED 0x0000
#define GMEM_MOVEABLE 0x0002
#define GMEM_ZEROINIT 0x0040
#define GHND (GMEM_MOVEABLE | GMEM_ZEROINIT)

inline constexpr HRESULT STG_E_INVALIDPOINTER = static_cast<HRESULT>(0x80030009u);
inline constexpr HRESULT STG_E_INVALIDFUNCTION = static_cast<HRESULT>(0x80030001u);
inline constexpr HRESULT STG_E_MEDIUMFULL = static_cast<HRESULT>(0x80030070u);

// Null when the block cannot be had (a size beyond what this layer allows included).
HGLOBAL GlobalAlloc(UINT flags, SIZE_T bytes);
// The block's bytes, null for a handle that is not a live block; counts the lock.
void* GlobalLock(HGLOBAL memory);
// FALSE once the lock count is back at 0 (or for a handle that was not locked), TRUE while locks
// remain.
BOOL GlobalUnlock(HGLOBAL memory);
SIZE_T GlobalSize(HGLOBAL memory);
// Null when freed; the handle itself when it was not a live block.
HGLOBAL GlobalFree(HGLOBAL memory);

#define STREAM_SEEK_SET 0
#define STREAM_SEEK_CUR 1
#define STREAM_SEEK_END 2

// A byte stream, reference counted. Only what the program and GDI+ use is offered.
struct IStream
{
    virtual ULONG AddRef() = 0;
    virtual ULONG Release() = 0;
    // Up to size bytes from the current position; *read (when given) says how many.
    virtual HRESULT Read(void* buffer, ULONG size, ULONG* read) = 0;
    virtual HRESULT Write(const void* buffer, ULONG size, ULONG* written) = 0;
    // origin: STREAM_SEEK_SET, _CUR or _END; a position before the start is refused.
    virtual HRESULT Seek(LONGLONG move, DWORD origin, ULONGLONG* newPosition) = 0;
    virtual HRESULT SetSize(ULONGLONG size) = 0;

protected:
    virtual ~IStream() = default;
};

// A stream over the block (a new, empty block when memory is null). With deleteOnRelease the
// stream frees the block when its last reference goes.
HRESULT CreateStreamOnHGlobal(HGLOBAL memory, BOOL deleteOnRelease, IStream** stream);
