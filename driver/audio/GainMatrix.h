#pragma once
// A rows x columns matrix of gains: rows are source channels, columns destination channels. The
// engine mixes through it (MixThroughMatrix takes RowTable()); two masks mark the rows that are
// unit rows or silent so a whole block can be skipped or copied. Not locked: the engine's routing
// lock serialises every change and every read, so all of it runs at DISPATCH_LEVEL. Storage is
// non-paged pool.

#include <cstdint>

#include "audio/AudioAssert.h"
#include "audio/SampleFormat.h"

class GainMatrix
{
public:
    static constexpr uint32_t kMaxRows = 32;  // one mask bit per row

    GainMatrix() = default;
    ~GainMatrix() { ReleaseMatrix(); }
    GainMatrix(const GainMatrix&) = delete;
    GainMatrix& operator=(const GainMatrix&) = delete;

    // Releases what the matrix holds, then allocates a rows x columns matrix with unity on the
    // diagonal (row r < columns is a unit row, any further row is silent). rows or columns 0 gives
    // an empty matrix. Returns 0, E_INVALIDARG for more than kMaxRows rows, or E_OUTOFMEMORY;
    // on failure the matrix is empty.
    int32_t ConfigureMatrix(uint32_t rows, uint32_t columns);

    // Copies count gains into row from firstColumn, or out of it. E_FAIL, nothing touched, outside
    // the matrix or without gains to copy.
    int32_t SetRowGains(uint32_t row, const SampleGain* gains, uint32_t firstColumn,
                        uint32_t count);
    int32_t GetRowGains(uint32_t row, SampleGain* gains, uint32_t firstColumn,
                        uint32_t count) const;

    // Writes the block of rowCount rows from firstRow and columns 0 .. columnCount - 1 with a
    // pattern of value (i and j counted from the block's corner): 0 everywhere, 1 where i = j,
    // 2 where i + j is even, 3 where i + j is odd; 0 elsewhere. E_FAIL, nothing written, when the
    // block leaves the matrix or the pattern is unknown.
    int32_t FillBlock(uint32_t firstRow, uint32_t rowCount, uint32_t columnCount, uint32_t pattern,
                      SampleGain value);

    void ReleaseMatrix();

    uint32_t Rows() const { return rows_; }
    uint32_t Columns() const { return columns_; }
    const SampleGain* const* RowTable() const { return rowTable_; }
    uint32_t IdentityRows() const { return identityRows_; }  // bit r: row r is a unit row
    uint32_t SilentRows() const { return silentRows_; }      // bit r: row r is all zero
    SampleGain Gain(uint32_t row, uint32_t column) const
    {
        AUDIO_ASSERT(row < rows_ && column < columns_);
        return rowTable_[row][column];
    }

private:
    bool InsideRow(uint32_t row, uint32_t firstColumn, uint32_t count, const void* gains) const;
    void UpdateRowMasks(uint32_t row);

    SampleGain* storage_ = nullptr;    // rows x columns, row after row
    SampleGain** rowTable_ = nullptr;  // rows pointers into storage_
    uint32_t rows_ = 0;
    uint32_t columns_ = 0;
    uint32_t identityRows_ = 0;
    uint32_t silentRows_ = 0;
};
