#include "win32/GlobalMemory.h"

#include <atomic>
#include <cstring>
#include <mutex>
#include <new>
#include <set>
#include <vector>

struct HGLOBAL__
{
    std::vector<BYTE> bytes;
    int lockCount = 0;
};

namespace {

// Larger blocks are refused rather than attempted: resource images are far smaller.
constexpr SIZE_T kMaxBlockBytes = SIZE_T{1} << 30;

struct Blocks
{
    std::mutex lock;
    std::set<HGLOBAL> live;
};

Blocks& AllBlocks()
{
    static Blocks blocks;
    return blocks;
}

// The block when it is live; called with the lock held.
HGLOBAL Find(Blocks& all, HGLOBAL memory)
{
    return all.live.count(memory) != 0 ? memory : nullptr;
}

class HGlobalStream final : public IStream
{
public:
    HGlobalStream(HGLOBAL memory, bool deleteOnRelease)
        : memory(memory), deleteOnRelease(deleteOnRelease)
    {
    }

    ULONG AddRef() override { return ++references; }
    ULONG Release() override
    {
        const ULONG left = --references;
        if (left == 0) {
            if (deleteOnRelease) {
                GlobalFree(memory);
            }
            delete this;
        }
        return left;
    }

    HRESULT Read(void* buffer, ULONG size, ULONG* read) override
    {
        Blocks& all = AllBlocks();
        std::lock_guard guard(all.lock);
        HGLOBAL block = Find(all, memory);
        if (block == nullptr || (buffer == nullptr && size != 0)) {
            return STG_E_INVALIDPOINTER;
        }
        const ULONGLONG available =
            position < block->bytes.size() ? block->bytes.size() - position : 0;
        const ULONG count = static_cast<ULONG>(available < size ? available : size);
        if (count != 0) {
            std::memcpy(buffer, block->bytes.data() + position, count);
        }
        position += count;
        if (read != nullptr) {
            *read = count;
        }
        return count == size ? S_OK : S_FALSE;
    }

    HRESULT Write(const void* buffer, ULONG size, ULONG* written) override
    {
        Blocks& all = AllBlocks();
        std::lock_guard guard(all.lock);
        HGLOBAL block = Find(all, memory);
        if (block == nullptr || (buffer == nullptr && size != 0)) {
            return STG_E_INVALIDPOINTER;
        }
        if (position + size > kMaxBlockBytes) {
            return STG_E_MEDIUMFULL;
        }
        if (block->bytes.size() < position + size) {
            block->bytes.resize(static_cast<size_t>(position + size));
        }
        if (size != 0) {
            std::memcpy(block->bytes.data() + position, buffer, size);
        }
        position += size;
        if (written != nullptr) {
            *written = size;
        }
        return S_OK;
    }

    HRESULT Seek(LONGLONG move, DWORD origin, ULONGLONG* newPosition) override
    {
        Blocks& all = AllBlocks();
        std::lock_guard guard(all.lock);
        HGLOBAL block = Find(all, memory);
        if (block == nullptr) {
            return STG_E_INVALIDPOINTER;
        }
        LONGLONG base = 0;
        switch (origin) {
            case STREAM_SEEK_SET:
                break;
            case STREAM_SEEK_CUR:
                base = static_cast<LONGLONG>(position);
                break;
            case STREAM_SEEK_END:
                base = static_cast<LONGLONG>(block->bytes.size());
                break;
            default:
                return STG_E_INVALIDFUNCTION;
        }
        if ((move < 0 && -(move + 1) >= base) || (move > 0 && move > INT64_MAX - base)) {
            return STG_E_INVALIDFUNCTION;
        }
        position = static_cast<ULONGLONG>(base + move);
        if (newPosition != nullptr) {
            *newPosition = position;
        }
        return S_OK;
    }

    HRESULT SetSize(ULONGLONG size) override
    {
        Blocks& all = AllBlocks();
        std::lock_guard guard(all.lock);
        HGLOBAL block = Find(all, memory);
        if (block == nullptr) {
            return STG_E_INVALIDPOINTER;
        }
        if (size > kMaxBlockBytes) {
            return STG_E_MEDIUMFULL;
        }
        block->bytes.resize(static_cast<size_t>(size));
        return S_OK;
    }

private:
    HGLOBAL memory;
    bool deleteOnRelease;
    std::atomic<ULONG> references{1};
    ULONGLONG position = 0;
};

}  // namespace

HGLOBAL GlobalAlloc(UINT, SIZE_T bytes)
{
    // Every block starts zeroed, whether or not GMEM_ZEROINIT asks for it.
    if (bytes > kMaxBlockBytes) {
        return nullptr;
    }
    auto* block = new (std::nothrow) HGLOBAL__{};
    if (block == nullptr) {
        return nullptr;
    }
    try {
        block->bytes.resize(bytes);
    } catch (const std::bad_alloc&) {
        delete block;
        return nullptr;
    }
    Blocks& all = AllBlocks();
    std::lock_guard guard(all.lock);
    all.live.insert(block);
    return block;
}

void* GlobalLock(HGLOBAL memory)
{
    Blocks& all = AllBlocks();
    std::lock_guard guard(all.lock);
    HGLOBAL block = Find(all, memory);
    if (block == nullptr) {
        return nullptr;
    }
    ++block->lockCount;
    // A block of 0 bytes still has an address, distinct from failure.
    return block->bytes.empty() ? static_cast<void*>(block) : block->bytes.data();
}

BOOL GlobalUnlock(HGLOBAL memory)
{
    Blocks& all = AllBlocks();
    std::lock_guard guard(all.lock);
    HGLOBAL block = Find(all, memory);
    if (block == nullptr || block->lockCount == 0) {
        return FALSE;
    }
    --block->lockCount;
    return block->lockCount > 0 ? TRUE : FALSE;
}

SIZE_T GlobalSize(HGLOBAL memory)
{
    Blocks& all = AllBlocks();
    std::lock_guard guard(all.lock);
    HGLOBAL block = Find(all, memory);
    return block != nullptr ? block->bytes.size() : 0;
}

HGLOBAL GlobalFree(HGLOBAL memory)
{
    Blocks& all = AllBlocks();
    std::lock_guard guard(all.lock);
    if (all.live.erase(memory) == 0) {
        return memory;
    }
    delete memory;
    return nullptr;
}

HRESULT CreateStreamOnHGlobal(HGLOBAL memory, BOOL deleteOnRelease, IStream** stream)
{
    if (stream == nullptr) {
        return E_INVALIDARG;
    }
    *stream = nullptr;
    if (memory == nullptr) {
        memory = GlobalAlloc(GMEM_MOVEABLE, 0);
        if (memory == nullptr) {
            return E_OUTOFMEMORY;
        }
    } else if (GlobalSize(memory) == 0 && GlobalLock(memory) == nullptr) {
        return E_INVALIDARG;
    } else if (GlobalSize(memory) == 0) {
        GlobalUnlock(memory);
    }
    *stream = new HGlobalStream(memory, deleteOnRelease != FALSE);
    return S_OK;
}
