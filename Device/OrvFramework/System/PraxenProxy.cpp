#include "System/PraxenProxy.h"

#include <vector>

namespace Orv {
namespace {

// A text read of the library: fills buffer (of bufferSize bytes) and sets *needed.
template <class Read>
ORVRESULT ReadText(const Read& read, WideString& result)
{
    char first[CPraxenProxy::kFirstBufferBytes] = {};
    int32_t needed = 0;
    const int32_t firstResult = read(first, CPraxenProxy::kFirstBufferBytes, &needed);
    if (firstResult != -2) {
        if (firstResult == 0) {
            result.AssignUtf8(first, CPraxenProxy::kFirstBufferBytes);
        }
        return firstResult;
    }
    // The size comes from outside: anything but a plausible text size keeps the preset text.
    if (needed < 1 || needed > CPraxenProxy::kLargestTextBytes) {
        return firstResult;
    }
    std::vector<char> second(static_cast<size_t>(needed), '\0');
    const int32_t secondResult = read(second.data(), needed, &needed);
    if (secondResult < 0) {
        return secondResult;
    }
    second.back() = '\0';
    result.AssignUtf8(second.data(), static_cast<int32_t>(second.size()));
    return secondResult;
}

// GetKeyNameAt and GetArrayItemAt: the text at index under node; an entry point is null exactly
// while the library is not loaded.
template <class Export>
ORVRESULT ReadIndexedText(Export read, int32_t handle, const WideString& node, int32_t index,
                          WideString& result)
{
    result.Clear();
    if (read == nullptr) {
        return E_FAIL;
    }
    const NarrowString narrowNode(node);
    return ReadText(
        [&](char* buffer, int32_t size, int32_t* needed) {
            return read(handle, narrowNode.GetText(), index, buffer, size, needed);
        },
        result);
}

// GetKeyCount and GetArrayCount.
template <class Export>
ORVRESULT ReadCount(Export read, int32_t handle, const WideString& node, int32_t* count)
{
    if (count == nullptr) {
        return E_INVALIDARG;
    }
    *count = 0;
    return read != nullptr ? read(handle, NarrowString(node).GetText(), count) : E_FAIL;
}

template <class Function>
bool Bind(HMODULE library, const char* name, Function& entry)
{
    entry = reinterpret_cast<Function>(GetProcAddress(library, name));
    return entry != nullptr;
}

}  // namespace

CPraxenProxy::~CPraxenProxy()
{
    if (IsLoaded()) {
        Unload();
    }
}

ORVRESULT CPraxenProxy::Load(const WideString& directory)
{
    if (IsLoaded()) {
        return 1;
    }
    WideString path = directory;
    if (!path.IsEmpty() && path.Right(1) != WideString(u"\\")) {
        path += WideString(u"\\");
    }
    path += WideString(u"Praxen.dll");
    library = LoadLibraryW(path.GetText());
    if (library == nullptr) {
        return E_FAIL;
    }
    // Every name is looked up, in the library's order, before the result is judged.
    bool bound = Bind(library, "OpenIniFile", openIniFile);
    bound &= Bind(library, "WriteIniFile", writeIniFile);
    bound &= Bind(library, "CloseIniFile", closeIniFile);
    bound &= Bind(library, "DoesNodeExist", doesNodeExist);
    bound &= Bind(library, "GetIniValueInt", getIniValueInt);
    bound &= Bind(library, "SetIniValueInt", setIniValueInt);
    bound &= Bind(library, "GetIniValueStr", getIniValueStr);
    bound &= Bind(library, "SetIniValueStr", setIniValueStr);
    bound &= Bind(library, "GetKeyCount", getKeyCount);
    bound &= Bind(library, "GetKeyNameAt", getKeyNameAt);
    bound &= Bind(library, "GetArrayCount", getArrayCount);
    bound &= Bind(library, "SetArrayCount", setArrayCount);
    bound &= Bind(library, "GetArrayItemAt", getArrayItemAt);
    bound &= Bind(library, "SetArrayItemAt", setArrayItemAt);
    bound &= Bind(library, "RemoveArrayItemAt", removeArrayItemAt);
    if (!bound) {
        FreeLibrary(library);
        ForgetLibrary();
        return E_FAIL;
    }
    return S_OK;
}

ORVRESULT CPraxenProxy::Unload()
{
    if (!IsLoaded()) {
        return 1;
    }
    const BOOL freed = FreeLibrary(library);
    ForgetLibrary();
    return freed ? S_OK : E_FAIL;
}

void CPraxenProxy::ForgetLibrary()
{
    library = nullptr;
    openIniFile = nullptr;
    writeIniFile = nullptr;
    closeIniFile = nullptr;
    doesNodeExist = nullptr;
    getIniValueInt = nullptr;
    setIniValueInt = nullptr;
    getIniValueStr = nullptr;
    setIniValueStr = nullptr;
    getKeyCount = nullptr;
    getKeyNameAt = nullptr;
    getArrayCount = nullptr;
    setArrayCount = nullptr;
    getArrayItemAt = nullptr;
    setArrayItemAt = nullptr;
    removeArrayItemAt = nullptr;
}

ORVRESULT CPraxenProxy::OpenIniFile(const WideString& path, const WideString& version,
                                    const WideString& product, int32_t* handle)
{
    if (handle == nullptr) {
        return E_INVALIDARG;
    }
    *handle = 0;
    if (!IsLoaded()) {
        return E_FAIL;
    }
    return openIniFile(NarrowString(path).GetText(), NarrowString(version).GetText(),
                       NarrowString(product).GetText(), handle);
}

ORVRESULT CPraxenProxy::WriteIniFile(int32_t handle)
{
    return IsLoaded() ? writeIniFile(handle) : E_FAIL;
}

bool CPraxenProxy::DoesNodeExist(int32_t handle, const WideString& node)
{
    return IsLoaded() && doesNodeExist(handle, NarrowString(node).GetText());
}

ORVRESULT CPraxenProxy::CloseIniFile(int32_t handle, int32_t flag)
{
    return IsLoaded() ? closeIniFile(handle, flag) : E_FAIL;
}

ORVRESULT CPraxenProxy::GetIniValueInt(int32_t handle, const WideString& node, int32_t defaultValue,
                                       int32_t* value)
{
    if (value == nullptr) {
        return E_INVALIDARG;
    }
    *value = defaultValue;
    if (!IsLoaded()) {
        return E_FAIL;
    }
    return getIniValueInt(handle, NarrowString(node).GetText(), defaultValue, value);
}

ORVRESULT CPraxenProxy::SetIniValueInt(int32_t handle, const WideString& node, int32_t value)
{
    return IsLoaded() ? setIniValueInt(handle, NarrowString(node).GetText(), value) : E_FAIL;
}

ORVRESULT CPraxenProxy::GetIniValueStr(int32_t handle, const WideString& node,
                                       const WideString& defaultValue, WideString& value)
{
    value = defaultValue;
    if (!IsLoaded()) {
        return E_FAIL;
    }
    const NarrowString narrowNode(node);
    const NarrowString narrowDefault(defaultValue);
    return ReadText(
        [&](char* buffer, int32_t size, int32_t* needed) {
            return getIniValueStr(handle, narrowNode.GetText(), narrowDefault.GetText(), buffer,
                                  size, needed);
        },
        value);
}

ORVRESULT CPraxenProxy::SetIniValueStr(int32_t handle, const WideString& node,
                                       const WideString& value)
{
    if (!IsLoaded()) {
        return E_FAIL;
    }
    return setIniValueStr(handle, NarrowString(node).GetText(), NarrowString(value).GetText());
}

ORVRESULT CPraxenProxy::GetKeyCount(int32_t handle, const WideString& node, int32_t* count)
{
    return ReadCount(getKeyCount, handle, node, count);
}

ORVRESULT CPraxenProxy::GetKeyNameAt(int32_t handle, const WideString& node, int32_t index,
                                     WideString& name)
{
    return ReadIndexedText(getKeyNameAt, handle, node, index, name);
}

ORVRESULT CPraxenProxy::GetArrayCount(int32_t handle, const WideString& node, int32_t* count)
{
    return ReadCount(getArrayCount, handle, node, count);
}

ORVRESULT CPraxenProxy::SetArrayCount(int32_t handle, const WideString& node, int32_t count)
{
    return IsLoaded() ? setArrayCount(handle, NarrowString(node).GetText(), count) : E_FAIL;
}

ORVRESULT CPraxenProxy::GetArrayItemAt(int32_t handle, const WideString& node, int32_t index,
                                       WideString& item)
{
    return ReadIndexedText(getArrayItemAt, handle, node, index, item);
}

ORVRESULT CPraxenProxy::SetArrayItemAt(int32_t handle, const WideString& node, int32_t index,
                                       const WideString& item)
{
    if (!IsLoaded()) {
        return E_FAIL;
    }
    return setArrayItemAt(handle, NarrowString(node).GetText(), index,
                          NarrowString(item).GetText());
}

ORVRESULT CPraxenProxy::RemoveArrayItemAt(int32_t handle, const WideString& node, int32_t index)
{
    return IsLoaded() ? removeArrayItemAt(handle, NarrowString(node).GetText(), index) : E_FAIL;
}

}  // namespace Orv
