// The strings against their physical limits, in one run:
// - copying a string shares its buffer: compare with one atomic increment and decrement, and
//   with copying a std::u16string of the same text;
// - appending grows the buffer in place: compare with std::u16string::append;
// - UTF-8 to UTF-16 conversion: compare with a plain loop that widens the same bytes one by one.
#include <benchmark/benchmark.h>

#include "PhysicalLimits.h"

#include <string>
#include <vector>

#include "Utilities/Storage/StringT.h"
#include "Utilities/Storage/Utf.h"

namespace {

std::u16string SampleText(std::size_t length)
{
    std::u16string text;
    while (text.size() < length) {
        text += u"Buffer size 256 samples, 48000 Hz. ";
    }
    text.resize(length);
    return text;
}

BENCHMARK(OrvBench::AtomicIncrementDecrement);

void WideStringCopy(benchmark::State& state)
{
    const Orv::WideString origin(SampleText(static_cast<std::size_t>(state.range(0))).c_str());
    for (auto _ : state) {
        Orv::WideString copy(origin);
        benchmark::DoNotOptimize(copy.GetText());
    }
}
BENCHMARK(WideStringCopy)->Arg(16)->Arg(256)->Arg(4096);

void StdU16StringCopy(benchmark::State& state)
{
    const std::u16string origin = SampleText(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) {
        std::u16string copy(origin);
        benchmark::DoNotOptimize(copy.data());
    }
}
BENCHMARK(StdU16StringCopy)->Arg(16)->Arg(256)->Arg(4096);

void WideStringAppend(benchmark::State& state)
{
    const Orv::WideString piece(u"NID_VALUE_CHANGE ");
    const int64_t pieces = state.range(0);
    for (auto _ : state) {
        Orv::WideString text;
        for (int64_t i = 0; i < pieces; ++i) {
            text.Append(piece);
        }
        benchmark::DoNotOptimize(text.GetText());
    }
    state.SetItemsProcessed(state.iterations() * pieces);
}
BENCHMARK(WideStringAppend)->Arg(8)->Arg(64)->Arg(1024);

void StdU16StringAppend(benchmark::State& state)
{
    const std::u16string piece(u"NID_VALUE_CHANGE ");
    const int64_t pieces = state.range(0);
    for (auto _ : state) {
        std::u16string text;
        for (int64_t i = 0; i < pieces; ++i) {
            text.append(piece);
        }
        benchmark::DoNotOptimize(text.data());
    }
    state.SetItemsProcessed(state.iterations() * pieces);
}
BENCHMARK(StdU16StringAppend)->Arg(8)->Arg(64)->Arg(1024);

std::string Utf8Sample(bool ascii)
{
    const std::string unit = ascii ? "Sample rate 44100 Hz, buffer 256. "
                                   : "Gr\xC3\xB6\xC3\x9F"
                                     "e 44,1 kHz \xE2\x82\xAC \xF0\x9F\x8E\xB5 ";
    std::string text;
    while (text.size() < 64 * 1024) {
        text += unit;
    }
    return text;
}

// The physical limit: read every byte once and write one unit for it.
void WidenLoop(benchmark::State& state)
{
    const std::string text = Utf8Sample(state.range(0) != 0);
    std::vector<char16_t> out(text.size());
    for (auto _ : state) {
        const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
        for (std::size_t i = 0; i < text.size(); ++i) {
            out[i] = bytes[i];
        }
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(text.size()));
}
BENCHMARK(WidenLoop)->Arg(1)->Arg(0);

void ConvertUtf8ToUtf16(benchmark::State& state)
{
    const std::string text = Utf8Sample(state.range(0) != 0);
    std::vector<char16_t> out(text.size());
    for (auto _ : state) {
        const char* source = text.data();
        char16_t* target = out.data();
        benchmark::DoNotOptimize(Orv::ConvertUtf8ToUtf16(&source, text.data() + text.size(),
                                                         &target, out.data() + out.size(), false));
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(text.size()));
}
BENCHMARK(ConvertUtf8ToUtf16)->Arg(1)->Arg(0);

}  // namespace

BENCHMARK_MAIN();
