#include "audio/GainMatrix.h"

#include <wdm.h>

#include "audio/AudioAssert.h"
#include "audio/DriverResult.h"
#include "audio/PoolTags.h"

int32_t GainMatrix::ConfigureMatrix(uint32_t rows, uint32_t columns)
{
    ReleaseMatrix();
    if (rows == 0 || columns == 0) {
        return 0;
    }
    AUDIO_ASSERT(rows <= kMaxRows);
    if (rows > kMaxRows) {
        return E_INVALIDARG;
    }
    SIZE_T entries = 0;
    SIZE_T storageBytes = 0;
    if (__builtin_mul_overflow(SIZE_T{rows}, SIZE_T{columns}, &entries) ||
        __builtin_mul_overflow(entries, sizeof(SampleGain), &storageBytes)) {
        return E_OUTOFMEMORY;
    }
    storage_ = static_cast<SampleGain*>(
        ExAllocatePoolWithTag(NonPagedPool, storageBytes, kChannelTablesTag));
    rowTable_ = static_cast<SampleGain**>(
        ExAllocatePoolWithTag(NonPagedPool, SIZE_T{rows} * sizeof(SampleGain*), kChannelTablesTag));
    if (storage_ == nullptr || rowTable_ == nullptr) {
        ReleaseMatrix();
        return E_OUTOFMEMORY;
    }
    RtlZeroMemory(storage_, storageBytes);
    rows_ = rows;
    columns_ = columns;
    for (uint32_t r = 0; r < rows; ++r) {
        rowTable_[r] = storage_ + SIZE_T{r} * columns;
        if (r < columns) {
            rowTable_[r][r] = kUnityGain;
            identityRows_ |= 1u << r;
        } else {
            silentRows_ |= 1u << r;
        }
    }
    return 0;
}

bool GainMatrix::InsideRow(uint32_t row, uint32_t firstColumn, uint32_t count,
                           const void* gains) const
{
    return row < rows_ && firstColumn <= columns_ && count <= columns_ - firstColumn &&
           (gains != nullptr || count == 0);
}

int32_t GainMatrix::SetRowGains(uint32_t row, const SampleGain* gains, uint32_t firstColumn,
                                uint32_t count)
{
    if (!InsideRow(row, firstColumn, count, gains)) {
        return E_FAIL;
    }
    for (uint32_t c = 0; c < count; ++c) {
        rowTable_[row][firstColumn + c] = gains[c];
    }
    UpdateRowMasks(row);
    return 0;
}

int32_t GainMatrix::GetRowGains(uint32_t row, SampleGain* gains, uint32_t firstColumn,
                                uint32_t count) const
{
    if (!InsideRow(row, firstColumn, count, gains)) {
        return E_FAIL;
    }
    for (uint32_t c = 0; c < count; ++c) {
        gains[c] = rowTable_[row][firstColumn + c];
    }
    return 0;
}

int32_t GainMatrix::FillBlock(uint32_t firstRow, uint32_t rowCount, uint32_t columnCount,
                              uint32_t pattern, SampleGain value)
{
    if (firstRow > rows_ || rowCount > rows_ - firstRow || columnCount > columns_ || pattern > 3) {
        return E_FAIL;
    }
    for (uint32_t i = 0; i < rowCount; ++i) {
        SampleGain* row = rowTable_[firstRow + i];
        for (uint32_t j = 0; j < columnCount; ++j) {
            bool set = true;
            switch (pattern) {
                case 1:
                    set = i == j;
                    break;
                case 2:
                    set = (i + j) % 2 == 0;
                    break;
                case 3:
                    set = (i + j) % 2 == 1;
                    break;
                default:
                    break;
            }
            row[j] = set ? value : 0;
        }
        UpdateRowMasks(firstRow + i);
    }
    return 0;
}

void GainMatrix::ReleaseMatrix()
{
    if (storage_ != nullptr) {
        ExFreePoolWithTag(storage_, kChannelTablesTag);
    }
    if (rowTable_ != nullptr) {
        ExFreePoolWithTag(rowTable_, kChannelTablesTag);
    }
    storage_ = nullptr;
    rowTable_ = nullptr;
    rows_ = 0;
    columns_ = 0;
    identityRows_ = 0;
    silentRows_ = 0;
}

void GainMatrix::UpdateRowMasks(uint32_t row)
{
    const SampleGain* gains = rowTable_[row];
    bool identity = row < columns_;
    bool silent = true;
    for (uint32_t c = 0; c < columns_; ++c) {
        if (gains[c] != 0) {
            silent = false;
        }
        if (gains[c] != (c == row ? kUnityGain : 0)) {
            identity = false;
        }
    }
    const uint32_t bit = 1u << row;
    identityRows_ = identity ? identityRows_ | bit : identityRows_ & ~bit;
    silentRows_ = silent ? silentRows_ | bit : silentRows_ & ~bit;
}
