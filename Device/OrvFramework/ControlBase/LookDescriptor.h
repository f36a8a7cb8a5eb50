#pragma once
// One Look: the parts placed in it and, when given, the box and alignment of its text.

#include <cstdint>

#include "ControlBase/DockedPart.h"
#include "ControlBase/VisualPartDescriptor.h"
#include "ObjectBase/RCPtr.h"
#include "ObjectBase/RefCountedObject.h"
#include "Utilities/Storage/RCPtrArray.h"
#include "Utilities/Storage/StringT.h"

namespace Orv {

// The text box within a look (edges relative to the look's size plus pixels) and the alignment.
struct TextProperties
{
    float textLeftRel = 0;
    int32_t textLeftAbs = 0;
    float textRightRel = 0;
    int32_t textRightAbs = 0;
    float textHAlign = 0;
    float textTopRel = 0;
    int32_t textTopAbs = 0;
    float textBottomRel = 0;
    int32_t textBottomAbs = 0;
    float textVAlign = 0;

    bool operator==(const TextProperties&) const = default;
};

class LLookDescriptor : public virtual LRefCountedObject
{
public:
    explicit LLookDescriptor(const WideString& name) : name(name) {}

    // Replaces the client part. 0.
    ORVRESULT SetClientPart(const RCPtr<LDockedPart>& part);
    // Stores the text box and the part whose colour the text takes. 0.
    ORVRESULT SetTextProperties(const TextProperties& properties,
                                const RCPtr<LVisualPartDescriptor>& foregroundPart);

    WideString name;
    RCPtr<LDockedPart> clientPart;
    RCPtrArray<LDockedPart> nonClientParts;  // in document order
    bool hasTextProperties = false;
    TextProperties text;  // valid only with hasTextProperties
    RCPtr<LVisualPartDescriptor> textForegroundPart;
};

}  // namespace Orv
