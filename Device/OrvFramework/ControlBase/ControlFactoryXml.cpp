// The reader's binding to expat: one whole-buffer parse, the callbacks that turn expat's UTF-8
// into the handlers' UTF-16, and the rule that nothing thrown crosses expat's frames.

#include <expat.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <exception>
#include <memory>
#include <ostream>

#include "ControlBase/ControlFactory.h"
#include "System/DebugOutput.h"

namespace Orv {

namespace {

struct ParserFree
{
    void operator()(XML_Parser parser) const { XML_ParserFree(parser); }
};

}  // namespace

ORVRESULT LControlFactory::ParseXml(const char* document, size_t length)
{
    if (document == nullptr) {
        return ParseBytes("", 0);
    }
    if (length == 0) {
        length = std::strlen(document);
    }
    return ParseBytes(document, length);
}

ORVRESULT LControlFactory::ParseBytes(const char* document, size_t length)
{
    std::unique_ptr<XML_ParserStruct, ParserFree> parser(XML_ParserCreate(nullptr));
    if (!parser) {
        return E_FAIL;
    }
    XML_SetUserData(parser.get(), this);
    XML_SetElementHandler(parser.get(), &XMLStartElementCallback, &XMLEndElementCallback);
    XML_SetCharacterDataHandler(parser.get(), &XMLCharacterData);

    skipNextStart = true;
    handlerFailed = false;
    activeParser = parser.get();
    if (document == nullptr) {
        document = "";
        length = 0;
    }
    // expat takes an int length: a larger document goes in pieces, the last one marked final.
    XML_Status status = XML_STATUS_OK;
    do {
        const size_t piece = std::min<size_t>(length, INT_MAX);
        const bool final = piece == length;
        status = XML_Parse(parser.get(), document, static_cast<int>(piece), final ? 1 : 0);
        document += piece;
        length -= piece;
    } while (status == XML_STATUS_OK && length > 0);
    activeParser = nullptr;

    if (handlerFailed) {
        return E_FAIL;
    }
    if (status != XML_STATUS_OK) {
        lastErrorText.AssignNarrow(XML_ErrorString(XML_GetErrorCode(parser.get())));
        lastErrorLine = static_cast<int32_t>(
            std::min<XML_Size>(XML_GetCurrentLineNumber(parser.get()), INT32_MAX));
        return E_FAIL;
    }
    return S_OK;
}

void LControlFactory::StopParseAfterFailure(const char* what)
{
    handlerFailed = true;
    *GetDebugLogTarget().narrowOutput << "Skin reader: " << what << '\n' << std::flush;
    if (activeParser != nullptr) {
        XML_StopParser(activeParser, XML_FALSE);
    }
}

void LControlFactory::XMLStartElementCallback(void* user, const char* name, const char** attributes)
{
    auto* factory = static_cast<LControlFactory*>(user);
    // expat may still report what was pending when it was stopped.
    if (factory->handlerFailed) {
        return;
    }
    try {
        WideString element;
        element.AssignNarrow(name);
        factory->XMLStartElement(element, XmlAttributes(attributes));
    } catch (const std::exception& failure) {
        factory->StopParseAfterFailure(failure.what());
    } catch (...) {
        factory->StopParseAfterFailure("unknown exception");
    }
}

void LControlFactory::XMLEndElementCallback(void* user, const char* name)
{
    auto* factory = static_cast<LControlFactory*>(user);
    if (factory->handlerFailed) {
        return;
    }
    try {
        WideString element;
        element.AssignNarrow(name);
        factory->XMLEndElement(element);
    } catch (const std::exception& failure) {
        factory->StopParseAfterFailure(failure.what());
    } catch (...) {
        factory->StopParseAfterFailure("unknown exception");
    }
}

void LControlFactory::XMLCharacterData(void* user, const char* text, int length)
{
    auto* factory = static_cast<LControlFactory*>(user);
    if (factory->handlerFailed || length <= 0) {
        return;
    }
    // Most text (the white space between elements) is wanted by nobody: not converted.
    const bool wanted = factory->stringMode
                            ? factory->localeText != nullptr
                            : factory->collectingCreateParam && factory->createParamTarget;
    if (!wanted) {
        return;
    }
    try {
        WideString characters;
        characters.AssignNarrow(text, length);
        factory->XMLCharacters(characters);
    } catch (const std::exception& failure) {
        factory->StopParseAfterFailure(failure.what());
    } catch (...) {
        factory->StopParseAfterFailure("unknown exception");
    }
}

}  // namespace Orv
