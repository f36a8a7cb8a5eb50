// The process-wide cache of named bitmaps. Its reference to a bitmap counts as a back reference,
// so a bitmap that nobody else holds leaves the cache and is destroyed.

#include <map>

#include "System/ResourceModule.h"
#include "Utilities/Graphics/Bitmap.h"
#include "Utilities/Storage/FilePaths.h"

namespace Orv {

namespace {

class BitmapCache
{
public:
    BitmapCache() = default;
    BitmapCache(const BitmapCache&) = delete;
    BitmapCache& operator=(const BitmapCache&) = delete;

    // At exit: bitmaps still held elsewhere outlive the cache and must not look for it again.
    ~BitmapCache()
    {
        for (auto& [key, bitmap] : entries) {
            bitmap->RemoveBackReference();
        }
    }

    std::map<WideString, RCPtr<LBitmap>> entries;
};

BitmapCache& Cache()
{
    static BitmapCache cache;
    return cache;
}

// Resource names by their upper case; files by the upper case of their long form, or of the
// path as given when it has no long form (too long, or missing), so that two such files never
// share one key.
WideString KeyOf(const WideString& name)
{
    if (IsResourceName(name)) {
        return name.ToUpper();
    }
    const WideString longPath = GetLongPath(name);
    return (longPath.IsEmpty() ? name : longPath).ToUpper();
}

}  // namespace

RCPtr<LBitmap> GetBitmap(const WideString& name)
{
    const WideString key = KeyOf(name);
    auto& entries = Cache().entries;
    if (auto found = entries.find(key); found != entries.end()) {
        return found->second;
    }
    RCPtr<LBitmap> bitmap(new LBitmap(name, key));
    if (bitmap->image == nullptr) {
        return RCPtr<LBitmap>();
    }
    entries.emplace(key, bitmap);
    bitmap->AddBackReference();
    return bitmap;
}

int32_t GetBitmapCacheCount()
{
    return static_cast<int32_t>(Cache().entries.size());
}

ORVRESULT LBitmap::DropBackReferences()
{
    if (!name.IsEmpty()) {
        auto& entries = Cache().entries;
        if (auto found = entries.find(key); found != entries.end() && found->second.Get() == this) {
            name.Clear();
            // This release only counts down: the caller's reference keeps the bitmap alive.
            entries.erase(found);
            RemoveBackReference();
        }
    }
    return (GetBackReferenceCount() == 0 && GetRefCount() == 1) ? S_OK : E_FAIL;
}

}  // namespace Orv
