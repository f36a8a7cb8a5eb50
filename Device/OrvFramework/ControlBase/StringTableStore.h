#pragma once
// The string tables of the program, for one language: table ID to (string ID to text). Tables
// with the same ID merge, within one document and across documents; the first text given for a
// string ID stays. The control factory owns one store, fills it at start-up with
// LoadStringTables and hands out copies of its tables.
//
// Table IDs: "Framework" for the framework's own texts; "|" and the application name for the
// application's; the parent's skin class name (or, without parent, the application name), "|"
// and the control name for one control's.
//
// UI thread only.

#include <cstddef>
#include <cstdint>
#include <map>
#include <vector>

#include "ControlBase/StringTable.h"
#include "ObjectBase/OrvResult.h"
#include "ObjectBase/RCPtr.h"
#include "Utilities/Storage/StringT.h"

namespace Orv {

class LStringTableStore;

// Reads one string-table document for one language into a store.
class IStringDocumentParser
{
public:
    // Adds the texts of `language` (exact LCID) from the document to the store; keptCount says
    // how many texts of that language the document had. A negative result: the document does
    // not parse (what came before the fault stays stored and counted).
    virtual ORVRESULT ParseStringDocument(const uint8_t* bytes, size_t size, uint32_t language,
                                          LStringTableStore& store, int32_t& keptCount) = 0;

protected:
    ~IStringDocumentParser() = default;
};

class LStringTableStore
{
public:
    explicit LStringTableStore(const WideString& applicationName);

    // 0 when stored; 1 when the table already had a text for the ID (that text stays);
    // E_INVALIDARG for an empty string ID.
    ORVRESULT AddString(const WideString& tableId, const WideString& id, const WideString& text);

    // Makes the table when it does not exist yet.
    void AddTable(const WideString& tableId);
    // The text of the ID in the table, made empty (with the table) when absent, for a reader
    // that appends to it. It stays where it is for the store's lifetime.
    WideString& TextOf(const WideString& tableId, const WideString& id);

    // Reads the application document, then the framework document ("::" names a resource of type
    // "ORVXML" of the resource module, anything else a file), choosing the language by fallback:
    // the application document is read for the language, then its neutral form (0x7C04 for
    // 0x0404, 0x0C04 and 0x1404, else the low eight bits), then 0x0009, until a pass keeps a text;
    // the framework document for the language that settled, then 0x0009. A document that is
    // missing or does not parse is not an error (it is said on the debug channel): 0, or
    // E_OUTOFMEMORY when a document's buffer cannot be had.
    ORVRESULT LoadStringTables(const WideString& applicationDocument,
                               const WideString& frameworkDocument, uint32_t language,
                               IStringDocumentParser& parser);

    // The language the last LoadStringTables settled on for the framework document.
    uint32_t GetCurrentLanguage() const { return currentLanguage; }
    const WideString& GetApplicationName() const { return applicationName; }
    // Documents name the application; its table is under the name read last.
    void SetApplicationName(const WideString& name) { applicationName = name; }

    // A new table holding a copy of that table; null when there is none.
    RCPtr<LStringTable> GetStringTable(const WideString& tableId) const;
    // The IDs of every table held, in ascending order.
    std::vector<WideString> GetTableIds() const;
    RCPtr<LStringTable> GetFrameworkStringTable() const;
    RCPtr<LStringTable> GetApplicationStringTable() const;
    // For a control: an empty parent class name means the control has no parent.
    RCPtr<LStringTable> GetControlStringTable(const WideString& parentClassName,
                                              const WideString& controlName) const;

    // The second language tried for a language without texts of its own.
    static uint32_t NeutralLanguageOf(uint32_t language);

private:
    // Reads one document and passes over it; false when its buffer cannot be had.
    bool ReadDocument(const WideString& path, const uint32_t* languages, size_t count,
                      IStringDocumentParser& parser);
    // Passes over one document, one language after another, until one keeps a text. The
    // language of the pass that kept one, or the last one tried.
    uint32_t ReadForFirstLanguageKept(const WideString& path, const std::vector<uint8_t>& document,
                                      const uint32_t* languages, size_t count,
                                      IStringDocumentParser& parser);

    WideString applicationName;
    uint32_t currentLanguage = 0x0009;
    std::map<WideString, LStringTable::Map> tables;
};

}  // namespace Orv
