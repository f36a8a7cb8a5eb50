#pragma once
// LRegistryKey: a read-only view of one registry key, given by a root, a path below it and the
// choice of the 64-bit registry view. The key is opened for each operation and closed again after
// it, unless a caller opened it with Open, which keeps it open until the object is destroyed.
// Every failure is a result (E_FAIL, or a null pointer); nothing is thrown. One object may be used
// from several threads: each operation holds the key's own lock from opening to closing.

#include <cstdint>

#include <windows.h>

#include "ObjectBase/RCPtr.h"
#include "System/Mutex.h"
#include "Utilities/Storage/StringT.h"
#include "Utilities/Storage/VariantEx.h"

namespace Orv {

class LRegistryKey : public virtual LRefCountedObject
{
public:
    // Root indices.
    static constexpr int32_t kClassesRoot = 0;
    static constexpr int32_t kCurrentUser = 1;
    static constexpr int32_t kLocalMachine = 2;
    static constexpr int32_t kUsers = 3;

    // Not yet opened. A non-zero use64BitView opens with KEY_WOW64_64KEY, so that the 32-bit
    // program sees the native HKEY_LOCAL_MACHINE\Software.
    static RCPtr<LRegistryKey> Create(int32_t rootIndex, const WideString& subKeyPath,
                                      int32_t use64BitView);
    // The predefined key of a root index; -1 for an index outside 0-3.
    static HKEY GetRootKey(int32_t rootIndex);

    // 1 when already open, 0 when opened now, E_FAIL when the key cannot be opened.
    ORVRESULT Open();
    bool IsOpen() const;

    // A REG_SZ value becomes its text in UTF-8 (up to its first NUL); any other type must hold
    // exactly one serialised variant item, which out becomes. E_FAIL, with out untouched, when the
    // key or value is missing or the data is not a valid item. A DWORD or binary value is therefore
    // not handed out as a blob of its raw bytes: a caller that wants a number stores it as text or
    // as an item.
    ORVRESULT GetValue(const WideString& valueName, VariantEx& out);
    // names gets exactly one element per sub-key. E_FAIL when the key cannot be read; when the
    // listing breaks off, the names not read stay empty.
    ORVRESULT GetSubKeyNames(StringArray& names);
    // The sub-key whose name is exactly `name` (letter case included, although the registry itself
    // ignores case), with this key's root and view; null when there is none.
    RCPtr<LRegistryKey> OpenSubKey(const WideString& name);

    ~LRegistryKey() override;

private:
    class AccessGuard;

    LRegistryKey(int32_t rootIndex, const WideString& subKeyPath, int32_t use64BitView);
    static HKEY ClosedHandle();
    ORVRESULT ReadValue(const WideString& valueName, VariantEx& out);
    ORVRESULT ReadSubKeyNames(StringArray& names);

    HKEY handle;
    int32_t rootIndex;
    WideString subKeyPath;
    int32_t use64BitView;
    mutable Mutex keyLock;
};

}  // namespace Orv
