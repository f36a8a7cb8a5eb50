#include "ControlBase/StringTableStore.h"

#include <new>
#include <ostream>

#include "ControlBase/DocumentBytes.h"
#include "System/DebugOutput.h"

namespace Orv {

namespace {

constexpr uint32_t kEnglish = 0x0009;
constexpr uint32_t kChineseTraditional = 0x7C04;
const char16_t kFrameworkTableId[] = u"Framework";
const char16_t kTableIdSeparator[] = u"|";

void SayOnDebugChannel(const WideString& path, const char* what)
{
    *GetDebugLogTarget().narrowOutput << "String tables: " << path.ToNarrow().GetText() << ' '
                                      << what << '\n'
                                      << std::flush;
}

}  // namespace

LStringTableStore::LStringTableStore(const WideString& applicationName)
    : applicationName(applicationName)
{
}

ORVRESULT LStringTableStore::AddString(const WideString& tableId, const WideString& id,
                                       const WideString& text)
{
    if (id.IsEmpty()) {
        return E_INVALIDARG;
    }
    return tables[tableId].try_emplace(id, text).second ? 0 : 1;
}

void LStringTableStore::AddTable(const WideString& tableId)
{
    tables.try_emplace(tableId);
}

WideString& LStringTableStore::TextOf(const WideString& tableId, const WideString& id)
{
    return tables[tableId][id];
}

uint32_t LStringTableStore::NeutralLanguageOf(uint32_t language)
{
    if (language == 0x0404 || language == 0x0C04 || language == 0x1404) {
        return kChineseTraditional;
    }
    return language & 0xFF;
}

uint32_t LStringTableStore::ReadForFirstLanguageKept(const WideString& path,
                                                     const std::vector<uint8_t>& document,
                                                     const uint32_t* languages, size_t count,
                                                     IStringDocumentParser& parser)
{
    uint32_t language = languages[0];
    bool reported = false;
    for (size_t pass = 0; pass < count; ++pass) {
        language = languages[pass];
        int32_t kept = 0;
        const ORVRESULT parsed =
            parser.ParseStringDocument(document.data(), document.size(), language, *this, kept);
        if (parsed < 0 && !reported) {
            // Callers carry on with what was read: a broken document must not stop the program.
            SayOnDebugChannel(path, "does not parse; the texts read before the fault are kept");
            reported = true;
        }
        if (kept > 0) {
            break;
        }
    }
    return language;
}

bool LStringTableStore::ReadDocument(const WideString& path, const uint32_t* languages,
                                     size_t count, IStringDocumentParser& parser)
{
    std::vector<uint8_t> document;
    switch (ReadDocumentBytes(path, document)) {
        case DocumentRead::OutOfMemory:
            return false;
        case DocumentRead::Missing:
            SayOnDebugChannel(path, "cannot be read; it is skipped");
            return true;
        case DocumentRead::Done:
            currentLanguage = ReadForFirstLanguageKept(path, document, languages, count, parser);
            return true;
    }
    return true;
}

ORVRESULT LStringTableStore::LoadStringTables(const WideString& applicationDocument,
                                              const WideString& frameworkDocument,
                                              uint32_t language, IStringDocumentParser& parser)
{
    // Without a readable application document the framework texts are still read for the
    // application's language.
    currentLanguage = language;
    const uint32_t applicationLanguages[] = {language, NeutralLanguageOf(language), kEnglish};
    if (!ReadDocument(applicationDocument, applicationLanguages, 3, parser)) {
        return E_OUTOFMEMORY;
    }
    const uint32_t frameworkLanguages[] = {currentLanguage, kEnglish};
    if (!ReadDocument(frameworkDocument, frameworkLanguages, 2, parser)) {
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

RCPtr<LStringTable> LStringTableStore::GetStringTable(const WideString& tableId) const
{
    const auto found = tables.find(tableId);
    if (found == tables.end()) {
        return RCPtr<LStringTable>();
    }
    return RCPtr<LStringTable>(new LStringTable(found->second));
}

std::vector<WideString> LStringTableStore::GetTableIds() const
{
    std::vector<WideString> ids;
    ids.reserve(tables.size());
    for (const auto& table : tables) {
        ids.push_back(table.first);
    }
    return ids;
}

RCPtr<LStringTable> LStringTableStore::GetFrameworkStringTable() const
{
    return GetStringTable(kFrameworkTableId);
}

RCPtr<LStringTable> LStringTableStore::GetApplicationStringTable() const
{
    return GetStringTable(WideString(kTableIdSeparator) + applicationName);
}

RCPtr<LStringTable> LStringTableStore::GetControlStringTable(const WideString& parentClassName,
                                                             const WideString& controlName) const
{
    const WideString& owner = parentClassName.IsEmpty() ? applicationName : parentClassName;
    return GetStringTable(owner + kTableIdSeparator + controlName);
}

}  // namespace Orv
