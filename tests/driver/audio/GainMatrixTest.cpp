// The gain matrix: its unit start, row writes, block patterns, masks and allocation failures.
#include "audio/GainMatrix.h"

#include <KernelTestApi.h>

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "KernelTestFixture.h"
#include "audio/DriverResult.h"

namespace {

using namespace Platform::Kernel;

class GainMatrixTest : public Testing::KernelTest
{
protected:
    void TearDown() override
    {
        matrix.ReleaseMatrix();  // before the fixture counts what is left
        Testing::KernelTest::TearDown();
    }

    std::vector<std::vector<SampleGain>> Entries() const
    {
        std::vector<std::vector<SampleGain>> entries(matrix.Rows());
        for (uint32_t r = 0; r < matrix.Rows(); ++r) {
            entries[r].assign(matrix.RowTable()[r], matrix.RowTable()[r] + matrix.Columns());
        }
        return entries;
    }

    GainMatrix matrix;
};

constexpr SampleGain U = kUnityGain;

TEST_F(GainMatrixTest, StartsWithUnitRowsThenSilentRows)
{
    ASSERT_EQ(matrix.ConfigureMatrix(4, 2), 0);
    EXPECT_EQ(matrix.Rows(), 4u);
    EXPECT_EQ(matrix.Columns(), 2u);
    EXPECT_EQ(matrix.IdentityRows(), 0b0011u);
    EXPECT_EQ(matrix.SilentRows(), 0b1100u);
    EXPECT_EQ(Entries(), (std::vector<std::vector<SampleGain>>{{U, 0}, {0, U}, {0, 0}, {0, 0}}));
    for (const PoolBlock& block : OutstandingPool()) {
        EXPECT_EQ(TagText(block.tag), "PcNw");
    }
    EXPECT_FALSE(OutstandingPool().empty());
}

TEST_F(GainMatrixTest, EmptyWhenEitherSizeIsZero)
{
    ASSERT_EQ(matrix.ConfigureMatrix(3, 3), 0);
    EXPECT_EQ(matrix.ConfigureMatrix(0, 3), 0);
    EXPECT_EQ(matrix.Rows(), 0u);
    EXPECT_EQ(matrix.Columns(), 0u);
    EXPECT_EQ(matrix.RowTable(), nullptr);
    EXPECT_EQ(matrix.IdentityRows() | matrix.SilentRows(), 0u);
    EXPECT_TRUE(OutstandingPool().empty());
}

TEST_F(GainMatrixTest, RowWritesKeepTheMasksTrue)
{
    ASSERT_EQ(matrix.ConfigureMatrix(3, 3), 0);
    const SampleGain zeros[] = {0, 0, 0};
    const SampleGain half[] = {0x80000000LL};
    ASSERT_EQ(matrix.SetRowGains(0, zeros, 0, 3), 0);
    EXPECT_EQ(matrix.IdentityRows(), 0b110u);
    EXPECT_EQ(matrix.SilentRows(), 0b001u);
    ASSERT_EQ(matrix.SetRowGains(1, half, 2, 1), 0);  // row 1 is now {0, U, 0.5}
    EXPECT_EQ(matrix.IdentityRows(), 0b100u);
    EXPECT_EQ(matrix.SilentRows(), 0b001u);
    const SampleGain unitRow[] = {U, 0, 0};
    ASSERT_EQ(matrix.SetRowGains(0, unitRow, 0, 3), 0);
    EXPECT_EQ(matrix.IdentityRows(), 0b101u);
    EXPECT_EQ(matrix.SilentRows(), 0u);
    const SampleGain offDiagonal[] = {U};
    ASSERT_EQ(matrix.SetRowGains(2, zeros, 0, 3), 0);
    ASSERT_EQ(matrix.SetRowGains(2, offDiagonal, 0, 1), 0);  // unity in the wrong column
    EXPECT_EQ(matrix.IdentityRows(), 0b001u);
    EXPECT_EQ(Entries(),
              (std::vector<std::vector<SampleGain>>{{U, 0, 0}, {0, U, 0x80000000LL}, {U, 0, 0}}));
}

TEST_F(GainMatrixTest, ARowBeyondTheColumnsIsNeverAUnitRow)
{
    ASSERT_EQ(matrix.ConfigureMatrix(3, 2), 0);
    const SampleGain gains[] = {0, U};
    ASSERT_EQ(matrix.SetRowGains(2, gains, 0, 2), 0);
    EXPECT_EQ(matrix.IdentityRows(), 0b011u);
    EXPECT_EQ(matrix.SilentRows(), 0u);
}

TEST_F(GainMatrixTest, RowWritesOutsideTheMatrixFailAndWriteNothing)
{
    ASSERT_EQ(matrix.ConfigureMatrix(2, 3), 0);
    const auto before = Entries();
    const SampleGain gains[] = {5, 5, 5, 5};
    EXPECT_EQ(matrix.SetRowGains(2, gains, 0, 1), E_FAIL);
    EXPECT_EQ(matrix.SetRowGains(0, gains, 1, 3), E_FAIL);
    EXPECT_EQ(matrix.SetRowGains(0, gains, 4, 0), E_FAIL);
    EXPECT_EQ(matrix.SetRowGains(0, gains, 0xFFFFFFFFu, 2), E_FAIL);
    EXPECT_EQ(matrix.SetRowGains(0, nullptr, 0, 1), E_FAIL);
    EXPECT_EQ(Entries(), before);
    EXPECT_EQ(matrix.SetRowGains(0, gains, 3, 0), 0);
}

// Reads take the same bounds as writes and touch nothing outside the row part asked for.
TEST_F(GainMatrixTest, RowReadsCopyTheirPartAndRefuseOutsideTheMatrix)
{
    ASSERT_EQ(matrix.ConfigureMatrix(2, 3), 0);
    const SampleGain half[] = {kUnityGain / 2};
    ASSERT_EQ(matrix.SetRowGains(1, half, 2, 1), 0);
    SampleGain read[4] = {7, 7, 7, 7};
    ASSERT_EQ(matrix.GetRowGains(1, read, 1, 2), 0);
    EXPECT_EQ(read[0], kUnityGain);
    EXPECT_EQ(read[1], kUnityGain / 2);
    EXPECT_EQ(read[2], 7) << "nothing past count";
    for (const auto& [row, first, count] :
         {std::tuple{2u, 0u, 1u}, std::tuple{0u, 1u, 3u}, std::tuple{0u, 4u, 0u},
          std::tuple{0u, 0xFFFFFFFFu, 2u}}) {
        SampleGain untouched[4] = {7, 7, 7, 7};
        EXPECT_EQ(matrix.GetRowGains(row, untouched, first, count), E_FAIL)
            << row << first << count;
        EXPECT_EQ(untouched[0], 7);
    }
    EXPECT_EQ(matrix.GetRowGains(0, nullptr, 0, 1), E_FAIL);
    EXPECT_EQ(matrix.GetRowGains(0, nullptr, 0, 0), 0);
}

struct PatternCase
{
    const char* name;
    uint32_t pattern;
    std::vector<std::vector<SampleGain>> block;  // rows 1..3, columns 0..2 of a 4 x 4 matrix
};

void PrintTo(const PatternCase& c, std::ostream* out)
{
    *out << c.name;
}

constexpr SampleGain V = 0x20000000LL;

const PatternCase kPatterns[] = {
    {"Everywhere", 0, {{V, V, V}, {V, V, V}, {V, V, V}}},
    {"Diagonal", 1, {{V, 0, 0}, {0, V, 0}, {0, 0, V}}},
    {"EvenSums", 2, {{V, 0, V}, {0, V, 0}, {V, 0, V}}},
    {"OddSums", 3, {{0, V, 0}, {V, 0, V}, {0, V, 0}}},
};

class FillBlockPatterns : public GainMatrixTest, public testing::WithParamInterface<PatternCase>
{
};

TEST_P(FillBlockPatterns, FillTheBlockFromItsCorner)
{
    const PatternCase& c = GetParam();
    ASSERT_EQ(matrix.ConfigureMatrix(4, 4), 0);
    ASSERT_EQ(matrix.FillBlock(1, 3, 3, c.pattern, V), 0);
    auto expected = c.block;
    for (auto& row : expected) {
        row.push_back(0);  // column 3 is outside the block
    }
    expected.insert(expected.begin(), {U, 0, 0, 0});  // row 0 is outside the block
    expected[3][3] = U;                               // so is (3, 3)
    EXPECT_EQ(Entries(), expected);
    EXPECT_EQ(matrix.IdentityRows() & 0b0111u, 0b0001u);
}

INSTANTIATE_TEST_SUITE_P(Patterns, FillBlockPatterns, testing::ValuesIn(kPatterns),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(GainMatrixTest, DiagonalBlockFromRowTwoStartsAtColumnZero)
{
    ASSERT_EQ(matrix.ConfigureMatrix(4, 4), 0);
    ASSERT_EQ(matrix.FillBlock(2, 2, 4, 1, V), 0);
    EXPECT_EQ(matrix.Gain(2, 0), V);
    EXPECT_EQ(matrix.Gain(3, 1), V);
    EXPECT_EQ(matrix.Gain(2, 2), 0);
    EXPECT_EQ(matrix.Gain(3, 3), 0);
    EXPECT_EQ(matrix.IdentityRows(), 0b0011u);
}

TEST_F(GainMatrixTest, UnitAndZeroBlocksSetTheMasks)
{
    ASSERT_EQ(matrix.ConfigureMatrix(4, 4), 0);
    ASSERT_EQ(matrix.FillBlock(0, 4, 4, 0, 0), 0);
    EXPECT_EQ(matrix.SilentRows(), 0b1111u);
    EXPECT_EQ(matrix.IdentityRows(), 0u);
    ASSERT_EQ(matrix.FillBlock(0, 2, 4, 1, U), 0);
    EXPECT_EQ(matrix.IdentityRows(), 0b0011u);
    EXPECT_EQ(matrix.SilentRows(), 0b1100u);
}

TEST_F(GainMatrixTest, BlocksOutsideTheMatrixOrUnknownPatternsFailAndWriteNothing)
{
    ASSERT_EQ(matrix.ConfigureMatrix(3, 2), 0);
    const auto before = Entries();
    EXPECT_EQ(matrix.FillBlock(1, 3, 2, 0, V), E_FAIL);
    EXPECT_EQ(matrix.FillBlock(0, 1, 3, 0, V), E_FAIL);
    EXPECT_EQ(matrix.FillBlock(0, 1, 1, 4, V), E_FAIL);
    EXPECT_EQ(matrix.FillBlock(0xFFFFFFFFu, 2, 1, 0, V), E_FAIL);
    EXPECT_EQ(Entries(), before);
    EXPECT_EQ(matrix.IdentityRows(), 0b011u);
}

TEST_F(GainMatrixTest, AFailedAllocationLeavesItEmptyWithoutALeak)
{
    for (uint64_t failing = 1; failing <= 2; ++failing) {
        SCOPED_TRACE(failing);
        ASSERT_EQ(matrix.ConfigureMatrix(2, 2), 0);
        FailAllocationNumber(failing);
        EXPECT_EQ(matrix.ConfigureMatrix(4, 4), E_OUTOFMEMORY);
        ClearAllocationFailures();
        EXPECT_EQ(matrix.Rows(), 0u);
        EXPECT_EQ(matrix.Columns(), 0u);
        EXPECT_EQ(matrix.IdentityRows() | matrix.SilentRows(), 0u);
        EXPECT_TRUE(OutstandingPool().empty());
    }
}

TEST_F(GainMatrixTest, ReleaseFreesEverything)
{
    ASSERT_EQ(matrix.ConfigureMatrix(32, 64), 0);
    EXPECT_EQ(matrix.IdentityRows(), 0xFFFFFFFFu);
    matrix.ReleaseMatrix();
    EXPECT_EQ(matrix.Rows(), 0u);
    EXPECT_EQ(matrix.IdentityRows(), 0u);
    EXPECT_TRUE(OutstandingPool().empty());
}

TEST_F(GainMatrixTest, MoreRowsThanTheMasksHoldAreRefused)
{
    const auto stop =
        ExpectBugCheck([&] { EXPECT_EQ(matrix.ConfigureMatrix(33, 2), E_INVALIDARG); });
#ifdef NDEBUG
    EXPECT_FALSE(stop.has_value());
#else
    ASSERT_TRUE(stop.has_value());
    EXPECT_EQ(stop->code, 0x1Eu);
#endif
    EXPECT_EQ(matrix.Rows(), 0u);
}

}  // namespace
