#pragma once
// What the three leaf modules (versions, driver standard properties, audio status) share: the
// own-id checks, the defaults, the pseudo-id path to the device, and the texts of their logic
// errors, which name each class's own source file and lines.

#include <memory>
#include <string>

#include "ModuleInterfaces.h"

// The names a leaf module's logic errors carry.
struct GeneratedModuleTexts
{
    const char* className;   // "LVersions"
    const char* sourceFile;  // the module's source, as the messages name it
    int32_t offset;          // first own id relative to the root's first id
    int setFirstLine;
    int getLocalLine;
    int setLocalLine;
    int defaultLine;
};

// Maps a pseudo id to an own parameter that stands for it; this device has none.
class LPseudoIdMapper
{
public:
    explicit LPseudoIdMapper(const LParameterizedModule* module) : module(module) {}
    // The own id that stands for the pseudo id, or -1.
    int32_t MapPseudoId(int32_t pseudoId) const;
    const LParameterizedModule* GetModule() const { return module; }

private:
    const LParameterizedModule* module;  // not owned: the module owns this mapper
};

namespace GeneratedModule {

[[noreturn]] void ThrowLogicError(const GeneratedModuleTexts& texts, const char* operation,
                                  int line, const char* detail = "");
// Throws when the first id is not the root's first id plus the module's offset.
void CheckFirstId(const LParameterizedModule& module, const GeneratedModuleTexts& texts);
// Hands a pseudo-id value to the root's device-communication interface, result ignored.
void SendPseudoValueToDevice(LParameterizedModule& module, const Orv::ParamDescriptor& descriptor,
                             const Orv::Variant& value);
bool IsPseudoModuleId(int32_t id);

}  // namespace GeneratedModule

template <class Interface>
class LGeneratedModule : public Interface
{
public:
    void SetFirstParamID(LParameterizedModule* parent, int32_t firstId, int32_t extra) override
    {
        LParameterizedModule::SetFirstParamID(parent, firstId, extra);
        GeneratedModule::CheckFirstId(*this, texts);
    }

    Orv::ORVRESULT SetParamValueLocal(const Orv::ParamDescriptor& descriptor,
                                      const Orv::Variant& value, bool fromDevice) override
    {
        const int32_t id = descriptor.id;
        if (id >= 0) {
            return this->OwnsParamID(id)
                       ? LParameterizedModule::SetParamValueLocal(descriptor, value, fromDevice)
                       : -1;
        }
        if (!GeneratedModule::IsPseudoModuleId(id)) {
            return -1;
        }
        if (!fromDevice) {
            GeneratedModule::SendPseudoValueToDevice(*this, descriptor, value);
        }
        const int32_t mapped = mapper->MapPseudoId(id);
        if (mapped < 0) {
            return 1;
        }
        if (!this->OwnsParamID(mapped)) {
            GeneratedModule::ThrowLogicError(texts, "SetParamValueLocal", texts.setLocalLine);
        }
        return LParameterizedModule::SetParamValueLocal(
            Orv::ParamDescriptor{mapped, descriptor.subIndex}, value, fromDevice);
    }

    void GetParamValueLocal(Orv::Variant& value,
                            const Orv::ParamDescriptor& descriptor) const override
    {
        if (!this->OwnsParamID(descriptor.id)) {
            GeneratedModule::ThrowLogicError(texts, "GetParamValueLocal", texts.getLocalLine);
        }
        LParameterizedModule::GetParamValueLocal(value, descriptor);
    }

    // The parent is held for the call: a module may be dropped by what the call sets off.
    Orv::ORVRESULT SetParamValueChild(const Orv::ParamDescriptor& descriptor,
                                      const Orv::Variant& value) override
    {
        const Orv::RCPtr<LParameterizedModule> parent(this->GetParent());
        return parent ? parent->SetParamValueChild(descriptor, value) : -1;
    }

    void GetParamValueChild(Orv::Variant& value,
                            const Orv::ParamDescriptor& descriptor) const override
    {
        const Orv::RCPtr<LParameterizedModule> parent(this->GetParent());
        if (parent) {
            parent->GetParamValueChild(value, descriptor);
        } else {
            value.Clear();
        }
    }

    void GetParamValueDefault(Orv::Variant& value, int32_t id) const override;

    // Called right after construction; nothing to set up in this device.
    virtual void PostConstruct() {}

protected:
    LGeneratedModule(const GeneratedModuleTexts& texts, int32_t parameterCount)
        : Interface(parameterCount), texts(texts), mapper(std::make_unique<LPseudoIdMapper>(this))
    {
    }

private:
    const GeneratedModuleTexts& texts;
    std::unique_ptr<LPseudoIdMapper> mapper;
};

namespace GeneratedModule {
// The default of the module's own id, or a logic error.
void GetDefault(const LParameterizedModule& module, const GeneratedModuleTexts& texts,
                Orv::Variant& value, int32_t id);
}  // namespace GeneratedModule

template <class Interface>
void LGeneratedModule<Interface>::GetParamValueDefault(Orv::Variant& value, int32_t id) const
{
    GeneratedModule::GetDefault(*this, texts, value, id);
}
