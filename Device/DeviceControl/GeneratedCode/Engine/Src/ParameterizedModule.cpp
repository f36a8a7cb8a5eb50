#include "ParameterizedModule.h"

#include <utility>

#include "ObjectBase/Exception.h"

namespace {

// The base class is declared with the root module's interface; its texts name that header.
constexpr const char* kBaseSource =
    "device\\devicecontrol\\generatedcode\\engine\\inc\\RootModuleInterface";

}  // namespace

void LParameterizedModule::SetFirstParamID(LParameterizedModule* newParent, int32_t newFirstId,
                                           int32_t newExtra)
{
    parent = newParent;
    firstId = newFirstId;
    extra = newExtra;
}

Orv::RCPtr<LParameterizedModule> LParameterizedModule::GetModuleForParamIDConst(int32_t id) const
{
    return const_cast<LParameterizedModule*>(this)->GetModuleForParamID(id);
}

Orv::RCPtr<LParameterizedModule> LParameterizedModule::GetModuleForParamID(int32_t)
{
    return Orv::RCPtr<LParameterizedModule>(this);
}

Orv::ORVRESULT LParameterizedModule::SetParamValueLocal(const Orv::ParamDescriptor& descriptor,
                                                        const Orv::Variant& value, bool)
{
    if (parameterCount == 0) {
        Orv::ThrowException(Orv::ExceptionKind::LogicError, {},
                            Orv::ThrowSite{__PRETTY_FUNCTION__, kBaseSource, 102});
    }
    return parent != nullptr ? parent->SetParamValueChild(descriptor, value) : -1;
}

void LParameterizedModule::GetParamValueLocal(Orv::Variant& value,
                                              const Orv::ParamDescriptor& descriptor) const
{
    if (parameterCount == 0) {
        Orv::ThrowException(Orv::ExceptionKind::LogicError, {},
                            Orv::ThrowSite{__PRETTY_FUNCTION__, kBaseSource, 116});
    }
    if (parent != nullptr) {
        parent->GetParamValueChild(value, descriptor);
    } else {
        value.Clear();
    }
}

Orv::ORVRESULT LParameterizedModule::SetParamValueChild(const Orv::ParamDescriptor& descriptor,
                                                        const Orv::Variant& value)
{
    return parent != nullptr ? parent->SetParamValueChild(descriptor, value) : -1;
}

void LParameterizedModule::GetParamValueChild(Orv::Variant& value,
                                              const Orv::ParamDescriptor& descriptor) const
{
    if (parent != nullptr) {
        parent->GetParamValueChild(value, descriptor);
    } else {
        value.Clear();
    }
}

void LParameterizedModule::GetParamValueDefault(Orv::Variant& value, int32_t) const
{
    value.Clear();
}

void LParameterizedModule::OnDeviceConnected() {}

void LParameterizedModule::OnDeviceStateHook() {}

bool LParameterizedModule::IsParamModule() const
{
    return true;
}

void LParameterizedModule::RelayToParentOther(int32_t kind, const Orv::Variant& first,
                                              const Orv::Variant& second, void* context)
{
    if (parent != nullptr) {
        parent->RelayToParent(kind, first, second, context);
    }
}

void LParameterizedModule::RelayToParent(int32_t kind, const Orv::Variant& first,
                                         const Orv::Variant& second, void* context)
{
    RelayToParentOther(kind, first, second, context);
}

Orv::ORVRESULT LParameterizedModule::SetParamValue(const Orv::ParamDescriptor& descriptor,
                                                   const Orv::Variant& value)
{
    return parent != nullptr ? parent->SetParamValue(descriptor, value) : E_FAIL;
}

void LParameterizedModule::GetParamValue(Orv::Variant& value,
                                         const Orv::ParamDescriptor& descriptor) const
{
    if (parent != nullptr) {
        parent->GetParamValue(value, descriptor);
    } else {
        value.Clear();
    }
}

const LParameterizedModule& LParameterizedModule::GetTopModule() const
{
    const LParameterizedModule* top = this;
    while (top->parent != nullptr) {
        top = top->parent;
    }
    return *top;
}

LParameterizedModule& LParameterizedModule::GetTopModule()
{
    return const_cast<LParameterizedModule&>(std::as_const(*this).GetTopModule());
}

bool LParameterizedModule::OwnsParamID(int32_t id) const
{
    const int64_t k = static_cast<int64_t>(id) - firstId;
    return k >= 0 && k < parameterCount;
}
