#pragma once
// The application's settings store: a counted object that forwards every operation to its own
// CPraxenProxy, which it creates with itself and destroys (unloading the library) with itself.

#include <memory>

#include "ObjectBase/RCPtr.h"
#include "ObjectBase/RefCountedObject.h"
#include "System/IPraxen.h"

namespace Orv {

class CPraxenProxy;

class LPraxen : public IPraxen, public virtual LRefCountedObject
{
public:
    static RCPtr<LPraxen> Create();

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

protected:
    LPraxen();
    ~LPraxen() override;

private:
    std::unique_ptr<CPraxenProxy> proxy;
};

}  // namespace Orv
