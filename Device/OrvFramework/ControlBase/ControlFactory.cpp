#include "ControlBase/ControlFactory.h"

#include <iterator>
#include <new>
#include <vector>

#include "ControlBase/DocumentBytes.h"
#include "ObjectBase/Exception.h"

namespace Orv {

namespace {

const char16_t kResourceBase[] = u"::";

const RCPtr<LControlDescriptor>& NullDescriptor()
{
    static const RCPtr<LControlDescriptor> none;
    return none;
}

}  // namespace

LControlFactory::LControlFactory(const WideString& applicationName) : strings(applicationName) {}

LControlFactory::~LControlFactory() = default;

ORVRESULT LControlFactory::RegisterControlCreateFunction(const WideString& className,
                                                         ControlCreateFunctionPointer function)
{
    registry.try_emplace(className, function);
    return S_OK;
}

ORVRESULT LControlFactory::GetControlCreateFunction(const WideString& className,
                                                    ControlCreateFunctionPointer& function) const
{
    const auto found = registry.find(className);
    if (found == registry.end()) {
        ORV_THROW(RuntimeError);
    }
    function = found->second;
    return S_OK;
}

const RCPtr<LControlDescriptor>& LControlFactory::GetCurrentSkin() const
{
    if (currentSkinIndex < 0 || static_cast<uint32_t>(currentSkinIndex) >= skins.GetCount()) {
        return NullDescriptor();
    }
    return skins.GetData()[currentSkinIndex];
}

const RCPtr<LControlDescriptor>& LControlFactory::FindSubControlDescriptor(
    const WideString& name) const
{
    const RCPtr<LControlDescriptor>& root = GetCurrentSkin();
    if (!root) {
        return NullDescriptor();
    }
    const RCPtr<LControlDescriptor>* children = root->subControls.GetData();
    for (uint32_t index = root->subControls.GetCount(); index-- > 0;) {
        if (children[index] && children[index]->name == name) {
            return children[index];
        }
    }
    return NullDescriptor();
}

RCPtr<LControlDescriptor> LControlFactory::DeriveDescriptor(const RCPtr<LControlDescriptor>& source,
                                                            const RCPtr<LLayoutDescriptor>& layout,
                                                            const WideString& name) const
{
    if (!source) {
        ORV_THROW_NULL_POINTER("LControlFactory::DeriveDescriptor has no source descriptor");
    }
    RCPtr<LControlDescriptor> derived = source->Clone(WideString());
    derived->name = name;
    derived->SetLayout(layout);
    return derived;
}

bool LControlFactory::GetSkinFont(WideString& fontName, float& fontSize, int32_t& fontStyle) const
{
    const RCPtr<LControlDescriptor>& root = GetCurrentSkin();
    if (!root || !root->skin) {
        return true;
    }
    const LSkinDescriptor& skin = *root->skin;
    bool setsNone = true;
    if (!skin.fontName.IsEmpty()) {
        fontName = skin.fontName;
        setsNone = false;
    }
    if (skin.fontSize >= 1) {
        fontSize = skin.fontSize;
        setsNone = false;
    }
    if (skin.fontStyle != -1) {
        fontStyle = skin.fontStyle;
        setsNone = false;
    }
    return setsNone;
}

ORVRESULT LControlFactory::LoadSkinsAndStrings(const WideString& base, uint32_t language)
{
    WideString applicationDocument;
    WideString frameworkDocument;
    WideString skinDocument;
    if (base == kResourceBase) {
        basePath = kResourceBase;
        applicationDocument = basePath + u"APP_STRINGS";
        frameworkDocument = basePath + u"FRAMEWORK_STRINGS";
        skinDocument = basePath + u"APP_SKINS";
    } else {
        basePath = base + u"\\";
        applicationDocument = basePath + u"StringTables.xml";
        frameworkDocument = basePath + u"FrameworkStrings.xml";
        skinDocument = basePath + u"Skins.xml";
    }
    const ORVRESULT loaded = LoadStringTables(applicationDocument, frameworkDocument, language);
    if (loaded < 0) {
        return loaded;
    }
    return LoadSkins(skinDocument);
}

ORVRESULT LControlFactory::LoadSkins(const WideString& path)
{
    std::vector<uint8_t> document;
    switch (ReadDocumentBytes(path, document)) {
        case DocumentRead::OutOfMemory:
            return E_OUTOFMEMORY;
        case DocumentRead::Missing:
            return E_FAIL;
        case DocumentRead::Done:
            break;
    }
    stringMode = false;
    StopCollectingCreateParam();
    inLooks = false;
    currentControl = nullptr;
    subControlOpened.clear();
    const ORVRESULT parsed =
        ParseBytes(reinterpret_cast<const char*>(document.data()), document.size());
    currentSkinIndex = 0;
    return parsed;
}

ORVRESULT LControlFactory::LoadStringTables(const WideString& applicationDocument,
                                            const WideString& frameworkDocument, uint32_t language)
{
    const ORVRESULT loaded =
        strings.LoadStringTables(applicationDocument, frameworkDocument, language, *this);
    currentLanguage = strings.GetCurrentLanguage();
    return loaded;
}

ORVRESULT LControlFactory::ParseStringDocument(const uint8_t* bytes, size_t size, uint32_t language,
                                               LStringTableStore& store, int32_t& kept)
{
    // The store is this factory's own; the reader writes to it directly.
    (void)store;
    stringMode = true;
    currentLanguage = language;
    keptCount = 0;
    localeText = nullptr;
    localeBuffer.clear();
    currentTableId.reset();
    const ORVRESULT parsed = ParseBytes(reinterpret_cast<const char*>(bytes), size);
    // A document cut short keeps the text read before the fault.
    StopCollectingLocale();
    kept = keptCount;
    return parsed;
}

RCPtr<LStringTable> LControlFactory::GetFrameworkStringTable() const
{
    return strings.GetFrameworkStringTable();
}

RCPtr<LStringTable> LControlFactory::GetApplicationStringTable() const
{
    return strings.GetApplicationStringTable();
}

RCPtr<LStringTable> LControlFactory::GetControlStringTable(const WideString& parentClassName,
                                                           const WideString& controlName) const
{
    return strings.GetControlStringTable(parentClassName, controlName);
}

// Elements by name; an element of neither table is ignored.
const LControlFactory::ElementEntry LControlFactory::kStringElements[] = {
    {u"StringTable", &LControlFactory::OnStringTable},
    {u"String", &LControlFactory::OnString},
    {u"Locale", &LControlFactory::OnLocale},
};

const LControlFactory::ElementEntry LControlFactory::kSkinElements[] = {
    {u"Skins", &LControlFactory::OnNothing},
    {u"Skin", &LControlFactory::OnSkin},
    {u"FontLocale", &LControlFactory::OnFontLocale},
    {u"FontXLat", &LControlFactory::OnFontXLat},
    {u"SubControl", &LControlFactory::OnSubControl},
    {u"CreateParamList", &LControlFactory::OnCreateParamList},
    {u"CreateParam", &LControlFactory::OnCreateParam},
    {u"LookList", &LControlFactory::OnLookList},
    {u"LookLists", &LControlFactory::OnLookLists},
    {u"Look", &LControlFactory::OnLook},
    {u"Looks", &LControlFactory::OnLooks},
    {u"ClientPart", &LControlFactory::OnClientPart},
    {u"TextProperties", &LControlFactory::OnTextProperties},
    {u"NonClientParts", &LControlFactory::OnNothing},
    {u"NonClientPart", &LControlFactory::OnNonClientPart},
    {u"Parts", &LControlFactory::OnNothing},
    {u"Part", &LControlFactory::OnPart},
    {u"Colorizers", &LControlFactory::OnNothing},
    {u"Colorizer", &LControlFactory::OnColorizer},
};

LControlFactory::ElementHandler LControlFactory::FindHandler(const ElementEntry* table,
                                                             size_t count, const WideString& name)
{
    for (size_t index = 0; index < count; ++index) {
        if (name == table[index].name) {
            return table[index].handler;
        }
    }
    return nullptr;
}

void LControlFactory::XMLStartElement(const WideString& name, const XmlAttributes& attributes)
{
    if (skipNextStart) {
        skipNextStart = false;
        return;
    }
    if (name == u"Application") {
        WideString applicationName;
        ReadStringAttribute(attributes, u"Name", applicationName);
        strings.SetApplicationName(applicationName);
        return;
    }
    if (stringMode) {
        if (const ElementHandler handler =
                FindHandler(kStringElements, std::size(kStringElements), name)) {
            (this->*handler)(attributes);
        }
        return;
    }
    if (name == u"SubControl" && (!attributes.Has(u"Class") || !attributes.Has(u"Name"))) {
        ORV_THROW_DETAIL(RuntimeError, "Bad Subcontrol Element");
    }
    if (const ElementHandler handler = FindHandler(kSkinElements, std::size(kSkinElements), name)) {
        (this->*handler)(attributes);
    }
}

void LControlFactory::XMLEndElement(const WideString& name)
{
    if (stringMode) {
        StopCollectingLocale();
        return;
    }
    if (name == u"SubControl") {
        OnSubControlEnd();
    } else if (name == u"Skin") {
        OnSkinEnd();
    } else if (name == u"CreateParamList") {
        if (currentControl) {
            currentControl->SetCreateParams(currentCreateParams);
        }
    } else if (name == u"CreateParam") {
        StopCollectingCreateParam();
    } else if (name == u"Looks") {
        inLooks = false;
    }
}

void LControlFactory::XMLCharacters(const WideString& text)
{
    if (stringMode) {
        if (localeText != nullptr) {
            localeBuffer.append(text.GetText(), static_cast<size_t>(text.GetLength()));
        }
        return;
    }
    if (collectingCreateParam && createParamTarget) {
        createParamText.append(text.GetText(), static_cast<size_t>(text.GetLength()));
    }
}

void LControlFactory::OnNothing(const XmlAttributes&) {}

}  // namespace Orv
