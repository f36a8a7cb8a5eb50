// The skin and string-table reader against its physical limit, in one run: loading the program's
// documents as it does at start-up (LoadSkinsAndStrings in English: the application strings are
// read twice, for 0x0409 and then 0x0009, the framework strings and the skins once) compared
// with expat alone, with empty handlers, over the same bytes in the same passes.
#include <benchmark/benchmark.h>
#include <expat.h>

#include <vector>

#include "ControlBase/ControlFactory.h"
#include "System/ResourceModule.h"

namespace {

struct Document
{
    const char* data;
    int size;
};

Document Resource(const char16_t* name)
{
    const HMODULE module = Orv::GetResourceModule();
    HRSRC found = FindResourceW(module, name, u"ORVXML");
    if (found == nullptr) {
        return {nullptr, 0};
    }
    return {static_cast<const char*>(LockResource(LoadResource(module, found))),
            static_cast<int>(SizeofResource(module, found))};
}

void LoadSkinsAndStrings(benchmark::State& state)
{
    for (auto _ : state) {
        Orv::RCPtr<Orv::LControlFactory> factory(new Orv::LControlFactory(u"Quorvel"));
        if (factory->LoadSkinsAndStrings(u"::", 0x0409) != 0) {
            state.SkipWithError("the program's documents do not load");
            break;
        }
        benchmark::DoNotOptimize(factory->GetSkins().GetCount());
    }
}
BENCHMARK(LoadSkinsAndStrings)->Unit(benchmark::kMicrosecond);

void StartElement(void*, const char*, const char**) {}
void EndElement(void*, const char*) {}
void Characters(void*, const char*, int) {}

void ExpatAloneOverTheSamePasses(benchmark::State& state)
{
    const Document application = Resource(u"APP_STRINGS");
    const Document framework = Resource(u"FRAMEWORK_STRINGS");
    const Document skins = Resource(u"APP_SKINS");
    const std::vector<Document> passes = {application, application, framework, skins};
    for (auto _ : state) {
        for (const Document& document : passes) {
            XML_Parser parser = XML_ParserCreate(nullptr);
            XML_SetElementHandler(parser, StartElement, EndElement);
            XML_SetCharacterDataHandler(parser, Characters);
            benchmark::DoNotOptimize(XML_Parse(parser, document.data, document.size, 1));
            XML_ParserFree(parser);
        }
    }
}
BENCHMARK(ExpatAloneOverTheSamePasses)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
