#pragma once
// LControlFactory: where skins, string tables and control classes meet. The application makes one
// at start-up, has it read the string tables and skins (LoadSkinsAndStrings), registers a create
// function per skin class name, and from then on builds every control from a skin descriptor.
//
// Reading: one event-driven reader over expat serves both kinds of document. In string mode it
// fills the factory's string-table store; in skin mode it builds the descriptor tree (one root
// per top-level Skin) and the name maps of colorizers, parts, looks and look lists. The first
// definition of a name wins; references resolve when the referring element is read. A second
// document adds to what is there.
//
// Lifetime: the factory lives as long as the application; the descriptors it holds outlive every
// control built from them. UI thread only; no lock.

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "ControlBase/Colorizer.h"
#include "ControlBase/Control.h"
#include "ControlBase/ControlDescriptor.h"
#include "ControlBase/LookDescriptor.h"
#include "ControlBase/SkinAttributes.h"
#include "ControlBase/SkinDescriptor.h"
#include "ControlBase/StringTableStore.h"
#include "ControlBase/VisualPartDescriptor.h"
#include "ObjectBase/OrvResult.h"
#include "ObjectBase/RCPtr.h"
#include "ObjectBase/RefCountedObject.h"
#include "Utilities/Storage/RCPtrArray.h"
#include "Utilities/Storage/StringT.h"

struct XML_ParserStruct;

namespace Orv {

class LRootWindow;

class LControlFactory : public virtual LRefCountedObject, private IStringDocumentParser
{
public:
    // The deepest SubControl nesting a skin may have; a deeper one fails the document (the tree
    // is released recursively).
    static constexpr int32_t kMaxSubControlDepth = 64;
    // The most slots a look list may have; a control has far fewer states.
    static constexpr int32_t kMaxLooksPerList = 256;

    explicit LControlFactory(const WideString& applicationName);
    ~LControlFactory() override;

    // --- Control classes and creation

    // A name registered already keeps its first function. 0.
    ORVRESULT RegisterControlCreateFunction(const WideString& className,
                                            ControlCreateFunctionPointer function);
    // 0 and the function; throws a runtime error when the name is not registered.
    ORVRESULT GetControlCreateFunction(const WideString& className,
                                       ControlCreateFunctionPointer& function) const;
    // The control the create function of the descriptor's class builds (cached in the
    // descriptor on first use), or null. An unregistered class throws before anything is made.
    // Defined with the controls, like the two other operations that handle them.
    RCPtr<LControl> CreateControl(const RCPtr<LControlDescriptor>& descriptor,
                                  const RCPtr<LControl>& parent);
    // The current skin's top-level control of that name, built without parent and attached to
    // the root window (which may be null); null when the skin has no such control. An
    // unregistered class throws before anything is made. Defined with the controls.
    RCPtr<LControl> CreateControlByName(const WideString& name,
                                        const RCPtr<LRootWindow>& rootWindow);
    // The current skin's top-level descriptor of that name (the last of equal names), or a
    // null one.
    const RCPtr<LControlDescriptor>& FindSubControlDescriptor(const WideString& name) const;
    // The current skin's top-level descriptor of the control's name applied to it again (its
    // ApplyDescriptor's result); E_FAIL for a null control or when the skin has none. Defined
    // with the controls.
    ORVRESULT ApplySkinToControl(const RCPtr<LControl>& control);
    // The source's clone under a new name and layout; shares the source's children, skin,
    // create parameters and cached create function.
    RCPtr<LControlDescriptor> DeriveDescriptor(const RCPtr<LControlDescriptor>& source,
                                               const RCPtr<LLayoutDescriptor>& layout,
                                               const WideString& name) const;
    // Copies out what the current skin sets of name, size (counted from 1) and style; true when
    // it sets none of them (and then nothing is changed).
    bool GetSkinFont(WideString& fontName, float& fontSize, int32_t& fontStyle) const;

    // The root of the current skin, or null when the index names none: a factory whose index is
    // out of range behaves as if the skin had no controls and no font.
    const RCPtr<LControlDescriptor>& GetCurrentSkin() const;

    // --- Loading

    // base "::": the resources "APP_STRINGS", "FRAMEWORK_STRINGS" and "APP_SKINS" of type
    // "ORVXML"; any other base is a folder holding "StringTables.xml", "FrameworkStrings.xml" and
    // "Skins.xml". The first failure of the string tables, else the result of LoadSkins.
    ORVRESULT LoadSkinsAndStrings(const WideString& base, uint32_t language);
    // "::" and a resource name (upper-cased, "." and " " as "_"), or a file. 0; E_FAIL when the
    // document cannot be read or does not parse; E_OUTOFMEMORY without room for it. The current
    // skin index is 0 afterwards.
    ORVRESULT LoadSkins(const WideString& path);
    // The application document, then the framework document, for the language by fallback (see
    // LStringTableStore). 0, or E_OUTOFMEMORY.
    ORVRESULT LoadStringTables(const WideString& applicationDocument,
                               const WideString& frameworkDocument, uint32_t language);

    // Parses one document in the current mode. length 0: up to the first zero byte. 0; E_FAIL
    // when expat reports an error (its text and line are kept) or a handler fails.
    ORVRESULT ParseXml(const char* document, size_t length);

    // --- String tables (copies; null when there is none)

    RCPtr<LStringTable> GetFrameworkStringTable() const;
    RCPtr<LStringTable> GetApplicationStringTable() const;
    // Every table read, by ID (the control tables' IDs are "<parent class>|<name>"); null for
    // an ID not read.
    std::vector<WideString> GetStringTableIds() const { return strings.GetTableIds(); }
    RCPtr<LStringTable> GetStringTable(const WideString& tableId) const
    {
        return strings.GetStringTable(tableId);
    }
    // For a control: the parent's skin class name (empty for a control without parent, whose
    // table is under the application name), "|", the control's name.
    RCPtr<LStringTable> GetControlStringTable(const WideString& parentClassName,
                                              const WideString& controlName) const;
    // The same for a control about to be built under a parent (null at the top): the class name
    // of the parent's descriptor names the table. Defined with the controls.
    RCPtr<LStringTable> GetControlStringTable(const RCPtr<LControl>& parent,
                                              const WideString& controlName) const;

    // --- The reader's handlers (expat's callbacks convert to UTF-16 and call these)

    static void XMLStartElementCallback(void* factory, const char* name, const char** attributes);
    static void XMLEndElementCallback(void* factory, const char* name);
    static void XMLCharacterData(void* factory, const char* text, int length);
    void XMLStartElement(const WideString& name, const XmlAttributes& attributes);
    void XMLEndElement(const WideString& name);
    void XMLCharacters(const WideString& text);

    static bool ReadStringAttribute(const XmlAttributes& a, const char16_t* n, WideString& out)
    {
        return Orv::ReadStringAttribute(a, n, out);
    }
    static bool ReadBoolAttribute(const XmlAttributes& a, const char16_t* n, bool& out)
    {
        return Orv::ReadBoolAttribute(a, n, out);
    }
    static bool ReadIntAttribute(const XmlAttributes& a, const char16_t* n, int32_t& out)
    {
        return Orv::ReadIntAttribute(a, n, out);
    }
    static bool ReadFloatAttribute(const XmlAttributes& a, const char16_t* n, float& out)
    {
        return Orv::ReadFloatAttribute(a, n, out);
    }

    // --- What was read

    const WideString& GetApplicationName() const { return strings.GetApplicationName(); }
    uint32_t GetCurrentLanguage() const { return currentLanguage; }
    const WideString& GetBasePath() const { return basePath; }
    void SetBasePath(const WideString& path) { basePath = path; }
    const RCPtrArray<LControlDescriptor>& GetSkins() const { return skins; }
    const WideString& GetLastErrorText() const { return lastErrorText; }
    int32_t GetLastErrorLine() const { return lastErrorLine; }
    RCPtr<LColorizer> FindColorizer(const WideString& name) const;
    RCPtr<LVisualPartDescriptor> FindPart(const WideString& name) const;
    RCPtr<LLookDescriptor> FindLook(const WideString& name) const;
    RCPtr<LookList> FindLookList(const WideString& name) const;
    const std::map<WideString, RCPtr<LVisualPartDescriptor>>& GetParts() const { return parts; }
    const std::map<WideString, RCPtr<LookList>>& GetLookLists() const { return lookLists; }

    // Which root is the current skin; the application's SetSkin writes it directly.
    int32_t currentSkinIndex = 0;

private:
    using ElementHandler = void (LControlFactory::*)(const XmlAttributes&);
    struct ElementEntry
    {
        const char16_t* name;
        ElementHandler handler;
    };
    static const ElementEntry kStringElements[];
    static const ElementEntry kSkinElements[];
    static ElementHandler FindHandler(const ElementEntry* table, size_t count,
                                      const WideString& name);

    // Parses bytes of a known length (none: an empty document).
    ORVRESULT ParseBytes(const char* document, size_t length);
    // A handler failed: the parse ends, and expat's frames are left before anything is raised.
    void StopParseAfterFailure(const char* what);

    ORVRESULT ParseStringDocument(const uint8_t* bytes, size_t size, uint32_t language,
                                  LStringTableStore& store, int32_t& keptCount) override;

    // String-table elements.
    void OnStringTable(const XmlAttributes& attributes);
    void OnString(const XmlAttributes& attributes);
    void OnLocale(const XmlAttributes& attributes);
    // Adds the collected Locale text to its string; an entity-heavy text arrives in many pieces,
    // and growing the stored string piece by piece would cost the square of its length.
    void StopCollectingLocale();

    // Control-tree elements of a skin.
    void OnSkin(const XmlAttributes& attributes);
    void OnFontLocale(const XmlAttributes& attributes);
    void OnFontXLat(const XmlAttributes& attributes);
    void OnSubControl(const XmlAttributes& attributes);
    void OnCreateParamList(const XmlAttributes& attributes);
    void OnCreateParam(const XmlAttributes& attributes);
    void OnSubControlEnd();
    void OnSkinEnd();
    void StopCollectingCreateParam();
    int32_t DepthOf(const LControlDescriptor* descriptor) const;

    // Appearance elements of a skin.
    void OnLookList(const XmlAttributes& attributes);
    void OnLookLists(const XmlAttributes& attributes);
    void OnLook(const XmlAttributes& attributes);
    void OnLooks(const XmlAttributes& attributes);
    void OnClientPart(const XmlAttributes& attributes);
    void OnTextProperties(const XmlAttributes& attributes);
    void OnNonClientPart(const XmlAttributes& attributes);
    void OnPart(const XmlAttributes& attributes);
    void OnColorizer(const XmlAttributes& attributes);
    void OnNothing(const XmlAttributes& attributes);

    // The factory.
    LStringTableStore strings;
    uint32_t currentLanguage = 0x0009;
    WideString basePath;
    RCPtrArray<LControlDescriptor> skins;
    std::map<WideString, ControlCreateFunctionPointer> registry;

    // The name maps of the appearance elements.
    std::map<WideString, RCPtr<LColorizer>> colorizers;
    std::map<WideString, RCPtr<LVisualPartDescriptor>> parts;
    std::map<WideString, RCPtr<LLookDescriptor>> looks;
    std::map<WideString, RCPtr<LookList>> lookLists;

    // Reader state of one parse.
    XML_ParserStruct* activeParser = nullptr;
    bool handlerFailed = false;
    bool skipNextStart = false;
    bool stringMode = false;
    int32_t keptCount = 0;
    std::optional<WideString> currentTableId;  // none before the first StringTable
    WideString currentId;
    WideString* localeText = nullptr;  // the kept Locale's text in the store, while collecting
    std::u16string localeBuffer;       // its text read so far, added to it when collecting stops
    bool collectingCreateParam = false;
    std::u16string createParamText;
    RCPtr<LStringTable> createParamTarget;  // the list the collected CreateParam goes to
    WideString createParamId;
    RCPtr<LControlDescriptor> currentControl;
    std::vector<bool> subControlOpened;  // per open SubControl: whether it made a descriptor
    RCPtr<LStringTable> currentCreateParams;
    struct PendingFont
    {
        bool inheritsFromParent = false;
        bool sizeIsRelative = false;
        WideString name;
        float size = 0;
        int32_t style = -1;
    } pendingFont;
    std::optional<int32_t> fontLocale;  // none before the first FontLocale: matches no language
    std::map<WideString, WideString> fontTranslations;
    RCPtr<LLookDescriptor> currentLook;
    RCPtr<LookList> currentLookList;
    bool inLooks = false;
    WideString lastErrorText;
    int32_t lastErrorLine = 0;
};

}  // namespace Orv
