#include "ControlBase/LookDescriptor.h"

namespace Orv {

ORVRESULT LLookDescriptor::SetClientPart(const RCPtr<LDockedPart>& part)
{
    clientPart = part;
    return S_OK;
}

ORVRESULT LLookDescriptor::SetTextProperties(const TextProperties& properties,
                                             const RCPtr<LVisualPartDescriptor>& foregroundPart)
{
    text = properties;
    textForegroundPart = foregroundPart;
    hasTextProperties = true;
    return S_OK;
}

}  // namespace Orv
