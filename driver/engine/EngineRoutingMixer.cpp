// The stream set's mixer and meters as the device model's properties reach them.
#include "EngineRouting.h"

#include "common/InStackLock.h"

namespace {

constexpr ULONG kMaxPeaksTaken = 64;

}  // namespace

void EngineRouting::GetMatrixSize(ULONG* rows, ULONG* columns)
{
    InStackLock routing(&routingLock);
    *rows = matrix.Rows();
    *columns = matrix.Columns();
}

NTSTATUS EngineRouting::ReadMatrixRow(ULONG row, ULONG firstColumn, ULONG count, SampleGain* gains)
{
    InStackLock routing(&routingLock);
    return matrix.GetRowGains(row, gains, firstColumn, count) < 0 ? STATUS_UNSUCCESSFUL
                                                                  : STATUS_SUCCESS;
}

NTSTATUS EngineRouting::WriteMatrixRow(ULONG row, ULONG firstColumn, ULONG count,
                                       const SampleGain* gains)
{
    InStackLock routing(&routingLock);
    return matrix.SetRowGains(row, gains, firstColumn, count) < 0 ? STATUS_UNSUCCESSFUL
                                                                  : STATUS_SUCCESS;
}

void EngineRouting::MarkMixerUsed()
{
    InStackLock routing(&routingLock);
    matrixOn = 1;
}

ULONG EngineRouting::TakePeaks(bool input, ULONG* peaks, ULONG maxCount)
{
    InStackLock routing(&routingLock);
    meteringOn = 1;
    if (peaks == nullptr) {
        return 0;
    }
    U32Array& array = input ? inputPeaks : outputPeaks;
    InStackLock peakLock(input ? &inputPeaksLock : &outputPeaksLock);
    ULONG count = maxCount < kMaxPeaksTaken ? maxCount : kMaxPeaksTaken;
    count = count < array.Count() ? count : array.Count();
    for (ULONG i = 0; i < count; ++i) {
        peaks[i] = array.Data()[i];
        array.Data()[i] = 0;
    }
    return count;
}
