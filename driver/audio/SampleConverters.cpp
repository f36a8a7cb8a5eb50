// Selection of the generated routines: one table per operation, indexed by destination layout and
// then by source layout, filled by instantiating the routine templates for every pair.
#include "audio/SampleConverters.h"

#include <cstddef>

#include "audio/DriverResult.h"
#include "audio/PackedKernelTables.h"
#include "audio/SampleFormatIndex.h"
#include "audio/SampleRoutines.h"

namespace {

using namespace SampleCodec;

enum class Operation
{
    Copy,
    Add,
    GainCopy,
    GainAdd
};

// The generated routine of one operation for one pair of layouts.
template <Operation Op, class Source, class Destination>
constexpr auto RoutineFor()
{
    if constexpr (Op == Operation::Copy) {
        return &CopySamples<Source, Destination>;
    } else if constexpr (Op == Operation::Add) {
        return &AddSamples<Source, Destination>;
    } else if constexpr (Op == Operation::GainCopy) {
        return &GainCopySamples<Source, Destination>;
    } else {
        return &GainAddSamples<Source, Destination>;
    }
}

template <class Routine, size_t N>
struct RoutineRow
{
    Routine bySource[N];
};

template <Operation Op, class... Layouts>
struct RoutineTable
{
    using Routine = decltype(RoutineFor<Op, Int16LE, Int16LE>());
    static constexpr size_t kCount = sizeof...(Layouts);

    template <class Destination>
    static constexpr RoutineRow<Routine, kCount> MakeRow()
    {
        return {{RoutineFor<Op, Layouts, Destination>()...}};
    }

    static constexpr RoutineRow<Routine, kCount> byDestination[kCount] = {MakeRow<Layouts>()...};
};

// In the order of SampleFormatIndex.
template <Operation Op>
using TableOf = RoutineTable<Op, Int16LE, Int24LE, Int32LE, Int16BE, Int24BE, Labelled24BE>;

static_assert(TableOf<Operation::Copy>::kCount == kSampleFormatIndexCount);

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
    return Select<TableOf<Operation::Copy>, TableOf<Operation::Add>>(sourceCode, destinationCode,
                                                                     add);
}

GainConverter SelectGainConverter(SampleFormatCode sourceCode, SampleFormatCode destinationCode,
                                  uint32_t add)
{
    return Select<TableOf<Operation::GainCopy>, TableOf<Operation::GainAdd>>(sourceCode,
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
    const uint32_t channels = run.channelCount;
    uint32_t from = 0;  // the frames before it are measured
    // Whole frames of 1, 2 or 4 channels: four samples at a time hold whole frames.
    if (run.firstChannel == 0 && run.channelsPerFrame == channels &&
        (channels == 1 || channels == 2 || channels == 4) && frames <= 0xFFFFFFFFu / channels) {
        const PackedPeakKernel packed = SelectPackedPeakKernel(SampleFormatIndexOrStop(run.format));
        if (packed != nullptr) {
            from = packed(base, frames * channels, channels, peaks) / channels;
        }
    }
    if (from < frames) {
        for (uint32_t k = 0; k < channels; ++k) {
            scan(
                base + size_t{bytes} * (size_t{from} * run.channelsPerFrame + run.firstChannel + k),
                stride, &peaks[k], frames - from);
        }
    }
    return 0;
}
