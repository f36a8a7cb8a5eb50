// The string-table vocabulary: StringTable, String and Locale. Only the texts of the language
// of the pass are kept.

#include "ControlBase/ControlFactory.h"

namespace Orv {

void LControlFactory::OnStringTable(const XmlAttributes& attributes)
{
    WideString id;
    ReadStringAttribute(attributes, u"ID", id);
    strings.AddTable(id);
    currentTableId = id;
}

void LControlFactory::OnString(const XmlAttributes& attributes)
{
    // A String without ID gives its Locales nothing to be kept under.
    WideString id;
    ReadStringAttribute(attributes, u"ID", id);
    currentId = id;
}

void LControlFactory::OnLocale(const XmlAttributes& attributes)
{
    int32_t lcid = 0;
    if (!ReadIntAttribute(attributes, u"LCID", lcid) ||
        static_cast<uint32_t>(lcid) != currentLanguage) {
        return;
    }
    // A text belongs to a table and an ID; without them there is nowhere to keep it.
    if (!currentTableId || currentId.IsEmpty()) {
        return;
    }
    StopCollectingLocale();
    ++keptCount;
    // A second kept Locale for the same ID adds its text to the first.
    localeText = &strings.TextOf(*currentTableId, currentId);
}

void LControlFactory::StopCollectingLocale()
{
    if (localeText != nullptr && !localeBuffer.empty()) {
        localeText->Append(WideString(localeBuffer.c_str()));
    }
    localeText = nullptr;
    localeBuffer.clear();
}

}  // namespace Orv
