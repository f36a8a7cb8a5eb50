// Selection of the generated routines: one table per operation, indexed by destination layout and
// then by source layout, filled by instantiating the routine templates for every pair.
#include "audio/SampleConverters.h"

#include <cstddef>

#include "audio/DriverResult.h"
#include "audio/SampleFormatIndex.h"
#include "audio/SampleRoutines.h"

namespace {

using namespace SampleCodec;

template <class Routine, size_t N>
struct RoutineRow
{
    Routine bySource[N];
};

template <class Operation, class... Layouts>
struct RoutineTable
{
    using Routine = typename Operation::Routine;
    static constexpr size_t kCount = sizeof...(Layouts);

    template <class Destination>
    static constexpr RoutineRow<Routine, kCount> MakeRow()
    {
        return {{Operation::template kFor<Layouts, Destination>...}};
    }

    static constexpr RoutineRow<Routine, kCount> byDestination[kCount] = {MakeRow<Layouts>()...};
};

struct CopyOperation
{
    using Routine = SampleConverter;
    template <class S, class D>
    static constexpr Routine kFor = &CopySamples<S, D>;
};
struct AddOperation
{
    using Routine = SampleConverter;
    template <class S, class D>
    static constexpr Routine kFor = &AddSamples<S, D>;
};
struct GainCopyOperation
{
    using Routine = GainConverter;
    template <class S, class D>
    static constexpr Routine kFor = &GainCopySamples<S, D>;
};
struct GainAddOperation
{
    using Routine = GainConverter;
    template <class S, class D>
    static constexpr Routine kFor = &GainAddSamples<S, D>;
};

// In the order of SampleFormatIndex.
template <class Operation>
using TableOf = RoutineTable<Operation, Int16LE, Int24LE, Int32LE, Int16BE, Int24BE, Labelled24BE>;

static_assert(TableOf<CopyOperation>::kCount == kSampleFormatIndexCount);

constexpr PeakScanner kPeakScanners[] = {&ScanPeak<Int16LE>, &ScanPeak<Int24LE>,
                                         &ScanPeak<Int32LE>, &ScanPeak<Int16BE>,
                                         &ScanPeak<Int24BE>, &ScanPeak<Labelled24BE>};
static_assert(sizeof(kPeakScanners) / sizeof(kPeakScanners[0]) == kSampleFormatIndexCount);

template <class CopyTable, class AddTable>
typename CopyTable::Routine Select(SampleFormatCode sourceCode, SampleFormatCode destinationCode,
                                   uint32_t add)
{
    const uint32_t source = SampleFormatIndexOrStop(sourceCode);
    const uint32_t destination = SampleFormatIndexOrStop(destinationCode);
    if ((add & 0xFFu) != 0) {
        return AddTable::byDestination[destination].bySource[source];
    }
    return CopyTable::byDestination[destination].bySource[source];
}

}  // namespace

SampleConverter SelectConverter(SampleFormatCode sourceCode, SampleFormatCode destinationCode,
                                uint32_t add)
{
    return Select<TableOf<CopyOperation>, TableOf<AddOperation>>(sourceCode, destinationCode, add);
}

GainConverter SelectGainConverter(SampleFormatCode sourceCode, SampleFormatCode destinationCode,
                                  uint32_t add)
{
    return Select<TableOf<GainCopyOperation>, TableOf<GainAddOperation>>(sourceCode,
                                                                         destinationCode, add);
}

PeakScanner SelectPeakScanner(SampleFormatCode code)
{
    return kPeakScanners[SampleFormatIndexOrStop(code)];
}

int32_t MeasurePeak(uint32_t frames, const ChannelRun& run, const void* buffer, uint32_t* peaks)
{
    if (buffer == nullptr) {
        return E_INVALIDARG;
    }
    const PeakScanner scan = SelectPeakScanner(run.format);
    const uint32_t bytes = BytesPerSample(run.format);
    const uint32_t stride = run.channelsPerFrame * bytes;
    const uint8_t* base = static_cast<const uint8_t*>(buffer);
    for (uint32_t k = 0; k < run.channelCount; ++k) {
        scan(base + size_t{bytes} * (run.firstChannel + k), stride, &peaks[k], frames);
    }
    return 0;
}
