#include "GeneratedModule.h"

#include "ObjectBase/Exception.h"
#include "ParamIds.h"
#include "RootModuleInterface.h"

int32_t LPseudoIdMapper::MapPseudoId(int32_t) const
{
    return -1;
}

namespace GeneratedModule {

void ThrowLogicError(const GeneratedModuleTexts& texts, const char* operation, int line,
                     const char* detail)
{
    const std::string function = std::string(texts.className) + "::" + operation;
    Orv::ThrowException(Orv::ExceptionKind::LogicError, detail,
                        Orv::ThrowSite{function.c_str(), texts.sourceFile, line});
}

void CheckFirstId(const LParameterizedModule& module, const GeneratedModuleTexts& texts)
{
    const int64_t required =
        static_cast<int64_t>(module.GetTopModule().GetFirstParamID()) + texts.offset;
    if (module.GetFirstParamID() != required) {
        ThrowLogicError(texts, "SetFirstParamID", texts.setFirstLine, "Invalid FirstParamID");
    }
}

void SendPseudoValueToDevice(LParameterizedModule& module, const Orv::ParamDescriptor& descriptor,
                             const Orv::Variant& value)
{
    auto* root = dynamic_cast<IRootModule*>(&module.GetTopModule());
    if (root == nullptr) {
        return;
    }
    if (const auto communication = root->GetDeviceCommunicationInterface()) {
        communication->SetParamValue(descriptor, value);
    }
}

bool IsPseudoModuleId(int32_t id)
{
    return id >= ParamIds::kFirstPseudoModuleId && id <= ParamIds::kLastPseudoModuleId;
}

void GetDefault(const LParameterizedModule& module, const GeneratedModuleTexts& texts,
                Orv::Variant& value, int32_t id)
{
    if (!module.OwnsParamID(id)) {
        ThrowLogicError(texts, "GetParamValueDefault", texts.defaultLine);
    }
    value = ParamIds::GetDefaultValue(ParamIds::kFirstId + texts.offset +
                                      (id - module.GetFirstParamID()));
}

}  // namespace GeneratedModule
