#include "System/RegistryKey.h"

#include <cstring>
#include <string>
#include <vector>

namespace Orv {

namespace {

// Registry key names are at most 255 characters; one more for the terminator.
constexpr DWORD kNameCapacity = 256;
constexpr DWORD kClassCapacity = 260;

}  // namespace

// Holds the key's lock for one operation and opens the key for it unless it was open already;
// closes what it opened however the operation is left.
class LRegistryKey::AccessGuard
{
public:
    explicit AccessGuard(LRegistryKey& key) : key(key), lock(key.keyLock)
    {
        wasOpen = key.handle != ClosedHandle();
        if (!wasOpen) {
            key.Open();
        }
    }
    ~AccessGuard()
    {
        if (!wasOpen && key.handle != ClosedHandle()) {
            RegCloseKey(key.handle);
            key.handle = ClosedHandle();
        }
    }
    AccessGuard(const AccessGuard&) = delete;
    AccessGuard& operator=(const AccessGuard&) = delete;

    bool IsOpen() const { return key.handle != ClosedHandle(); }

private:
    LRegistryKey& key;
    ScopedLock lock;
    bool wasOpen;
};

LRegistryKey::LRegistryKey(int32_t rootIndex, const WideString& subKeyPath, int32_t use64BitView)
    : handle(ClosedHandle()),
      rootIndex(rootIndex),
      subKeyPath(subKeyPath),
      use64BitView(use64BitView)
{
}

LRegistryKey::~LRegistryKey()
{
    if (handle != ClosedHandle()) {
        RegCloseKey(handle);
    }
}

RCPtr<LRegistryKey> LRegistryKey::Create(int32_t rootIndex, const WideString& subKeyPath,
                                         int32_t use64BitView)
{
    return RCPtr<LRegistryKey>(new LRegistryKey(rootIndex, subKeyPath, use64BitView));
}

HKEY LRegistryKey::ClosedHandle()
{
    return reinterpret_cast<HKEY>(static_cast<intptr_t>(-1));
}

HKEY LRegistryKey::GetRootKey(int32_t rootIndex)
{
    switch (rootIndex) {
        case kClassesRoot:
            return HKEY_CLASSES_ROOT;
        case kCurrentUser:
            return HKEY_CURRENT_USER;
        case kLocalMachine:
            return HKEY_LOCAL_MACHINE;
        case kUsers:
            return HKEY_USERS;
        default:
            return ClosedHandle();
    }
}

ORVRESULT LRegistryKey::Open()
{
    ScopedLock lock(keyLock);
    if (handle != ClosedHandle()) {
        return 1;
    }
    const REGSAM access = use64BitView ? KEY_READ | KEY_WOW64_64KEY : KEY_READ;
    HKEY opened = nullptr;
    if (RegOpenKeyExW(GetRootKey(rootIndex), subKeyPath.GetText(), 0, access, &opened) !=
        ERROR_SUCCESS) {
        handle = ClosedHandle();
        return E_FAIL;
    }
    handle = opened;
    return S_OK;
}

bool LRegistryKey::IsOpen() const
{
    ScopedLock lock(keyLock);
    return handle != ClosedHandle();
}

ORVRESULT LRegistryKey::GetValue(const WideString& valueName, VariantEx& out)
{
    AccessGuard access(*this);
    return access.IsOpen() ? ReadValue(valueName, out) : E_FAIL;
}

ORVRESULT LRegistryKey::ReadValue(const WideString& valueName, VariantEx& out)
{
    DWORD type = REG_NONE;
    DWORD size = 0;
    if (RegQueryValueExW(handle, valueName.GetText(), nullptr, &type, nullptr, &size) !=
        ERROR_SUCCESS) {
        return E_FAIL;
    }
    std::vector<uint8_t> data(size);
    // The value may have changed between the two queries: then it is read as missing.
    if (size != 0 && RegQueryValueExW(handle, valueName.GetText(), nullptr, &type, data.data(),
                                      &size) != ERROR_SUCCESS) {
        return E_FAIL;
    }
    if (type == REG_SZ) {
        std::u16string text(size / sizeof(char16_t), u'\0');
        if (!text.empty()) {
            std::memcpy(text.data(), data.data(), text.size() * sizeof(char16_t));
        }
        WideString value;
        value.Assign(text.c_str(), static_cast<int32_t>(text.size()));
        out.SetString(value);
        return S_OK;
    }
    return out.ReadItem(data.data(), size);
}

ORVRESULT LRegistryKey::GetSubKeyNames(StringArray& names)
{
    AccessGuard access(*this);
    return access.IsOpen() ? ReadSubKeyNames(names) : E_FAIL;
}

ORVRESULT LRegistryKey::ReadSubKeyNames(StringArray& names)
{
    WCHAR keyClass[kClassCapacity] = {};
    DWORD classLength = kClassCapacity;
    DWORD subKeyCount = 0, maxSubKeyLength = 0, maxClassLength = 0, valueCount = 0,
          maxValueNameLength = 0, maxValueLength = 0, securityLength = 0;
    FILETIME lastWrite{};
    if (RegQueryInfoKeyW(handle, keyClass, &classLength, nullptr, &subKeyCount, &maxSubKeyLength,
                         &maxClassLength, &valueCount, &maxValueNameLength, &maxValueLength,
                         &securityLength, &lastWrite) != ERROR_SUCCESS) {
        return E_FAIL;  // the count would be whatever it was before
    }
    if (names.SetCount(subKeyCount) < 0) {
        return E_FAIL;
    }
    for (DWORD i = 0; i < subKeyCount; ++i) {
        WCHAR name[kNameCapacity] = {};
        DWORD nameLength = kNameCapacity;
        if (RegEnumKeyExW(handle, i, name, &nameLength, nullptr, nullptr, nullptr, &lastWrite) !=
            ERROR_SUCCESS) {
            return E_FAIL;
        }
        names.GetAt(i) = WideString(name);
    }
    return S_OK;
}

RCPtr<LRegistryKey> LRegistryKey::OpenSubKey(const WideString& name)
{
    StringArray names;
    if (GetSubKeyNames(names) != S_OK || names.Find(name, true, 0) < 0) {
        return nullptr;
    }
    // A key right below the root has no path to join.
    const WideString path = subKeyPath.IsEmpty() ? name : subKeyPath + u"\\" + name;
    return Create(rootIndex, path, use64BitView);
}

}  // namespace Orv
