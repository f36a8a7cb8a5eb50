#include "System/LPraxen.h"

#include "System/PraxenProxy.h"

namespace Orv {

RCPtr<LPraxen> LPraxen::Create()
{
    return RCPtr<LPraxen>(new LPraxen());
}

LPraxen::LPraxen() : proxy(std::make_unique<CPraxenProxy>()) {}

LPraxen::~LPraxen() = default;

ORVRESULT LPraxen::Load(const WideString& directory)
{
    return proxy->Load(directory);
}

ORVRESULT LPraxen::Unload()
{
    return proxy->Unload();
}

ORVRESULT LPraxen::OpenIniFile(const WideString& path, const WideString& version,
                               const WideString& product, int32_t* handle)
{
    return proxy->OpenIniFile(path, version, product, handle);
}

ORVRESULT LPraxen::WriteIniFile(int32_t handle)
{
    return proxy->WriteIniFile(handle);
}

bool LPraxen::DoesNodeExist(int32_t handle, const WideString& node)
{
    return proxy->DoesNodeExist(handle, node);
}

ORVRESULT LPraxen::CloseIniFile(int32_t handle, int32_t flag)
{
    return proxy->CloseIniFile(handle, flag);
}

ORVRESULT LPraxen::GetIniValueInt(int32_t handle, const WideString& node, int32_t defaultValue,
                                  int32_t* value)
{
    return proxy->GetIniValueInt(handle, node, defaultValue, value);
}

ORVRESULT LPraxen::SetIniValueInt(int32_t handle, const WideString& node, int32_t value)
{
    return proxy->SetIniValueInt(handle, node, value);
}

ORVRESULT LPraxen::GetIniValueStr(int32_t handle, const WideString& node,
                                  const WideString& defaultValue, WideString& value)
{
    return proxy->GetIniValueStr(handle, node, defaultValue, value);
}

ORVRESULT LPraxen::SetIniValueStr(int32_t handle, const WideString& node, const WideString& value)
{
    return proxy->SetIniValueStr(handle, node, value);
}

ORVRESULT LPraxen::GetKeyCount(int32_t handle, const WideString& node, int32_t* count)
{
    return proxy->GetKeyCount(handle, node, count);
}

ORVRESULT LPraxen::GetKeyNameAt(int32_t handle, const WideString& node, int32_t index,
                                WideString& name)
{
    return proxy->GetKeyNameAt(handle, node, index, name);
}

ORVRESULT LPraxen::GetArrayCount(int32_t handle, const WideString& node, int32_t* count)
{
    return proxy->GetArrayCount(handle, node, count);
}

ORVRESULT LPraxen::SetArrayCount(int32_t handle, const WideString& node, int32_t count)
{
    return proxy->SetArrayCount(handle, node, count);
}

ORVRESULT LPraxen::GetArrayItemAt(int32_t handle, const WideString& node, int32_t index,
                                  WideString& item)
{
    return proxy->GetArrayItemAt(handle, node, index, item);
}

ORVRESULT LPraxen::SetArrayItemAt(int32_t handle, const WideString& node, int32_t index,
                                  const WideString& item)
{
    return proxy->SetArrayItemAt(handle, node, index, item);
}

ORVRESULT LPraxen::RemoveArrayItemAt(int32_t handle, const WideString& node, int32_t index)
{
    return proxy->RemoveArrayItemAt(handle, node, index);
}

}  // namespace Orv
