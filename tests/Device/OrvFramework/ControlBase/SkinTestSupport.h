#pragma once
// Small skin documents for the reader's tests, and finding descriptors in what they built.

#include <string>

#include "ControlBase/ControlFactory.h"

namespace SkinTest {

// A document element around the body, as the product's documents have one.
inline std::string Document(const std::string& body)
{
    return "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<Document>\n" + body + "\n</Document>\n";
}

// Parses the body as a skin document (a new factory reads skins until told otherwise).
inline Orv::ORVRESULT ParseSkin(Orv::LControlFactory& factory, const std::string& body)
{
    const std::string document = Document(body);
    return factory.ParseXml(document.data(), document.size());
}

// The child of that name; null when there is none.
inline Orv::LControlDescriptor* Child(const Orv::LControlDescriptor* parent, const char16_t* name)
{
    if (parent == nullptr) {
        return nullptr;
    }
    for (uint32_t index = 0; index < parent->subControls.GetCount(); ++index) {
        Orv::LControlDescriptor* child = parent->subControls.GetData()[index].Get();
        if (child->name == name) {
            return child;
        }
    }
    return nullptr;
}

inline std::string Narrow(const Orv::WideString& text)
{
    return text.ToNarrow().GetText();
}

}  // namespace SkinTest
