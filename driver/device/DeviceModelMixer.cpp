// The device model's mixer and peak meters, over the engine's routing gain matrix and peak arrays.
#include "DeviceModel.h"
#include "DeviceModelRecords.h"
#include "StreamConfiguration.h"
#include "engine/StreamingEngine.h"

// Rows and columns come from user mode: every bound is checked in 64 bits, against the matrix,
// against the 64 x 64 block and against the bytes of the caller's buffer, so no sum can wrap into
// range. A row that fails any of them is skipped and makes the result STATUS_UNSUCCESSFUL; the
// other rows are still done.
NTSTATUS DeviceModel::TransferMixer(MixerBlock* readInto, const MixerBlock* writeFrom,
                                    ULONG blockBytes)
{
    const MixerBlock* block = readInto != nullptr ? readInto : writeFrom;
    constexpr ULONGLONG kHeaderBytes = offsetof(MixerBlock, gains);
    if (block == nullptr || blockBytes < kHeaderBytes) {
        return STATUS_INVALID_PARAMETER;
    }
    const ULONGLONG firstRow = block->firstRow;
    const ULONGLONG rowCount = block->rowCount;
    const ULONGLONG firstColumn = block->firstColumn;
    const ULONGLONG columnCount = block->columnCount;
    const ULONGLONG endColumn = firstColumn + columnCount;
    ULONG matrixRows = 0;
    ULONG matrixColumns = 0;
    GetEngine()->GetMatrixSize(&matrixRows, &matrixColumns);

    bool failed = false;
    // Rows past the block can never be valid; they are counted as failures without visiting
    // each of up to four billion of them.
    ULONGLONG endRow = firstRow + rowCount;
    if (endRow > kMixerBlockSide) {
        failed = true;
        endRow = kMixerBlockSide;
    }
    for (ULONGLONG row = firstRow; row < endRow; ++row) {
        const ULONGLONG position = row * kMixerBlockSide + firstColumn;
        const ULONGLONG endByte = kHeaderBytes + (position + columnCount) * sizeof(SampleGain);
        if (row >= matrixRows || endColumn > matrixColumns || endColumn > kMixerBlockSide ||
            endByte > blockBytes) {
            failed = true;
            continue;
        }
        const ULONG r = static_cast<ULONG>(row);
        const ULONG c = static_cast<ULONG>(firstColumn);
        const ULONG n = static_cast<ULONG>(columnCount);
        // The engine checks the bounds again under its lock: the matrix may have changed.
        const NTSTATUS status =
            readInto != nullptr ? GetEngine()->ReadMatrixRow(r, c, n, &readInto->gains[position])
                                : GetEngine()->WriteMatrixRow(r, c, n, &writeFrom->gains[position]);
        failed = failed || !NT_SUCCESS(status);
    }
    return failed ? STATUS_UNSUCCESSFUL : STATUS_SUCCESS;
}

NTSTATUS DeviceModel::GetMixer(MixerBlock* block, ULONG blockBytes)
{
    return TransferMixer(block, nullptr, blockBytes);
}

NTSTATUS DeviceModel::SetMixer(const MixerBlock* block, ULONG blockBytes)
{
    const NTSTATUS status = TransferMixer(nullptr, block, blockBytes);
    if (block != nullptr) {
        GetEngine()->MarkMixerUsed();
    }
    return status;
}

NTSTATUS DeviceModel::GetInputPeaks(ULONG* peaks)
{
    GetEngine()->TakePeaks(true, peaks, kMaxPeakValues);
    return STATUS_SUCCESS;
}

NTSTATUS DeviceModel::GetOutputPeaks(ULONG* peaks)
{
    GetEngine()->TakePeaks(false, peaks, kMaxPeakValues);
    return STATUS_SUCCESS;
}
