#pragma once
// Binds the settings library's fifteen exports and converts the framework's wide strings to the
// UTF-8 the library takes. All fifteen are bound or none: a library that lacks one is not used.

#include <windows.h>

#include "System/IPraxen.h"

namespace Orv {

class CPraxenProxy : public IPraxen
{
public:
    CPraxenProxy() = default;
    CPraxenProxy(const CPraxenProxy&) = delete;
    CPraxenProxy& operator=(const CPraxenProxy&) = delete;

    ORVRESULT Load(const WideString& directory) override;
    ORVRESULT Unload() override;
    ORVRESULT OpenIniFile(const WideString& path, const WideString& version,
                          const WideString& product, int32_t* handle) override;
    ORVRESULT WriteIniFile(int32_t handle) override;
    bool DoesNodeExist(int32_t handle, const WideString& node) override;
    ORVRESULT CloseIniFile(int32_t handle, int32_t flag) override;
    ORVRESULT GetIniValueInt(int32_t handle, const WideString& node, int32_t defaultValue,
                             int32_t* value) override;
    ORVRESULT SetIniValueInt(int32_t handle, const WideString& node, int32_t value) override;
    ORVRESULT GetIniValueStr(int32_t handle, const WideString& node, const WideString& defaultValue,
                             WideString& value) override;
    ORVRESULT SetIniValueStr(int32_t handle, const WideString& node,
                             const WideString& value) override;
    ORVRESULT GetKeyCount(int32_t handle, const WideString& node, int32_t* count) override;
    ORVRESULT GetKeyNameAt(int32_t handle, const WideString& node, int32_t index,
                           WideString& name) override;
    ORVRESULT GetArrayCount(int32_t handle, const WideString& node, int32_t* count) override;
    ORVRESULT SetArrayCount(int32_t handle, const WideString& node, int32_t count) override;
    ORVRESULT GetArrayItemAt(int32_t handle, const WideString& node, int32_t index,
                             WideString& item) override;
    ORVRESULT SetArrayItemAt(int32_t handle, const WideString& node, int32_t index,
                             const WideString& item) override;
    ORVRESULT RemoveArrayItemAt(int32_t handle, const WideString& node, int32_t index) override;

    // Unloads the library when it is still loaded.
    virtual ~CPraxenProxy();

    bool IsLoaded() const { return library != nullptr; }

    // The size of the first buffer of a text read, and the largest text a second read accepts.
    static constexpr int32_t kFirstBufferBytes = 1024;
    static constexpr int32_t kLargestTextBytes = 1024 * 1024;

private:
    using OpenIniFileFn = int32_t (*)(const char*, const char*, const char*, int32_t*);
    using WriteIniFileFn = int32_t (*)(int32_t);
    using CloseIniFileFn = int32_t (*)(int32_t, int32_t);
    using DoesNodeExistFn = bool (*)(int32_t, const char*);
    using GetIniValueIntFn = int32_t (*)(int32_t, const char*, int32_t, int32_t*);
    using SetIniValueIntFn = int32_t (*)(int32_t, const char*, int32_t);
    using GetIniValueStrFn = int32_t (*)(int32_t, const char*, const char*, char*, int32_t,
                                         int32_t*);
    using SetIniValueStrFn = int32_t (*)(int32_t, const char*, const char*);
    using GetKeyCountFn = int32_t (*)(int32_t, const char*, int32_t*);
    using GetKeyNameAtFn = int32_t (*)(int32_t, const char*, int32_t, char*, int32_t, int32_t*);
    using GetArrayCountFn = int32_t (*)(int32_t, const char*, int32_t*);
    using SetArrayCountFn = int32_t (*)(int32_t, const char*, int32_t);
    using GetArrayItemAtFn = int32_t (*)(int32_t, const char*, int32_t, char*, int32_t, int32_t*);
    using SetArrayItemAtFn = int32_t (*)(int32_t, const char*, int32_t, const char*);
    using RemoveArrayItemAtFn = int32_t (*)(int32_t, const char*, int32_t);

    void ForgetLibrary();

    HMODULE library = nullptr;
    OpenIniFileFn openIniFile = nullptr;
    WriteIniFileFn writeIniFile = nullptr;
    CloseIniFileFn closeIniFile = nullptr;
    DoesNodeExistFn doesNodeExist = nullptr;
    GetIniValueIntFn getIniValueInt = nullptr;
    SetIniValueIntFn setIniValueInt = nullptr;
    GetIniValueStrFn getIniValueStr = nullptr;
    SetIniValueStrFn setIniValueStr = nullptr;
    GetKeyCountFn getKeyCount = nullptr;
    GetKeyNameAtFn getKeyNameAt = nullptr;
    GetArrayCountFn getArrayCount = nullptr;
    SetArrayCountFn setArrayCount = nullptr;
    GetArrayItemAtFn getArrayItemAt = nullptr;
    SetArrayItemAtFn setArrayItemAt = nullptr;
    RemoveArrayItemAtFn removeArrayItemAt = nullptr;
};

}  // namespace Orv
