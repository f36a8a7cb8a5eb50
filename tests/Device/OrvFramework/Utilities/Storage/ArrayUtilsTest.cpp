// Sorting arrays in place and sorting index arrays over a source.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <random>
#include <stdexcept>
#include <vector>

#include "Utilities/Storage/Array.h"
#include "Utilities/Storage/ArrayBuffer.h"
#include "Utilities/Storage/ArrayUtils.h"

namespace {

template <class Array>
std::vector<int> Values(const Array& array)
{
    std::vector<int> values;
    for (uint32_t i = 0; i < array.GetCount(); ++i) {
        values.push_back(static_cast<int>(array.GetAt(i)));
    }
    return values;
}

Orv::Array<int> MakeArray(const std::vector<int>& values)
{
    Orv::Array<int> array;
    for (int value : values) {
        array.AddItem(value);
    }
    return array;
}

const auto kLess = [](int a, int b) { return a < b; };

TEST(ArrayUtilsSort, SortsOnlyTheGivenRange)
{
    struct Row
    {
        const char* name;
        std::vector<int> input;
        uint32_t start;
        uint32_t count;
        std::vector<int> expected;
    };
    const Row rows[] = {
        {"whole array", {5, 3, 9, 1}, 0, 4, {1, 3, 5, 9}},
        {"middle only", {9, 8, 7, 6, 5}, 1, 3, {9, 6, 7, 8, 5}},
        {"tail", {4, 3, 2, 1}, 2, 2, {4, 3, 1, 2}},
        {"count 1 touches nothing", {3, 2, 1}, 1, 1, {3, 2, 1}},
        {"count 0 touches nothing", {3, 2, 1}, 0, 0, {3, 2, 1}},
        {"count below 2 past the end is not checked", {3, 2, 1}, 7, 1, {3, 2, 1}},
        {"duplicates", {2, 1, 2, 1, 2}, 0, 5, {1, 1, 2, 2, 2}},
    };
    for (const Row& row : rows) {
        Orv::Array<int> array = MakeArray(row.input);
        Orv::ArrayUtils::Sort(array, row.start, row.count, kLess);
        EXPECT_EQ(Values(array), row.expected) << row.name;
    }
}

TEST(ArrayUtilsSort, SortsLongRangesPastTheShortRangeMethod)
{
    std::mt19937 random(7);
    std::vector<int> values(1000);
    for (int& value : values) {
        value = static_cast<int>(random() % 100);
    }
    Orv::ArrayBuffer<unsigned int> array;
    for (int value : values) {
        array.AddItem(static_cast<unsigned int>(value));
    }
    Orv::ArrayUtils::Sort(array, 0, array.GetCount(),
                          [](unsigned int a, unsigned int b) { return a > b; });
    std::sort(values.begin(), values.end(), [](int a, int b) { return a > b; });
    EXPECT_EQ(Values(array), values);
}

TEST(ArrayUtilsSort, BoundsPastTheEndThrowOutOfRangeAndChangeNothing)
{
    struct Row
    {
        uint32_t start;
        uint32_t count;
    };
    const Row rows[] = {{0, 4}, {2, 2}, {3, 2}, {1, std::numeric_limits<uint32_t>::max()}};
    for (const Row& row : rows) {
        Orv::Array<int> array = MakeArray({3, 2, 1});
        try {
            Orv::ArrayUtils::Sort(array, row.start, row.count, kLess);
            ADD_FAILURE() << "no exception for " << row.start << "+" << row.count;
        } catch (const Orv::Exception<std::out_of_range>& error) {
            EXPECT_THAT(error.what(),
                        ::testing::MatchesRegex("Out of Range : Orv::ArrayUtils::Sort : "
                                                "Utilities.Storage.ArrayUtils : Line [0-9]+"));
        }
        EXPECT_EQ(Values(array), (std::vector<int>{3, 2, 1}));
    }
}

TEST(ArrayUtilsSortIndecies, IndexesTheRangeInComparatorOrder)
{
    const Orv::Array<int> source = MakeArray({50, 40, 30, 20, 10, 0});
    struct Row
    {
        const char* name;
        uint32_t first;
        uint32_t count;
        std::vector<int> expected;
    };
    const Row rows[] = {
        {"whole source", 0, 6, {5, 4, 3, 2, 1, 0}},
        {"a middle range counts from first", 1, 3, {3, 2, 1}},
        {"one index, not sorted", 4, 1, {4}},
        {"none", 6, 0, {}},
    };
    for (const Row& row : rows) {
        Orv::ArrayBuffer<unsigned int> indices;
        indices.AddItem(99);  // replaced, not appended to
        Orv::ArrayUtils::SortIndecies(indices, source, row.first, row.count, kLess);
        EXPECT_EQ(Values(indices), row.expected) << row.name;
    }
    EXPECT_EQ(Values(source), (std::vector<int>{50, 40, 30, 20, 10, 0})) << "source unchanged";
}

TEST(ArrayUtilsSortIndecies, TiesBrokenByIndexGiveAFixedOrder)
{
    const Orv::Array<int> source = MakeArray({1, 0, 1, 0, 1, 0, 1, 0});
    Orv::ArrayBuffer<unsigned int> indices;
    // The comparator sees the source's own elements, so their addresses order them by index.
    Orv::ArrayUtils::SortIndecies(
        indices, source, 0, 8, [](const int& a, const int& b) { return a != b ? a < b : &a < &b; });
    EXPECT_EQ(Values(indices), (std::vector<int>{1, 3, 5, 7, 0, 2, 4, 6}));
}

TEST(ArrayUtilsSortIndecies, BoundsPastTheSourceThrowOutOfRange)
{
    const Orv::Array<int> source = MakeArray({1, 2, 3});
    const uint32_t rows[][2] = {{0, 4}, {3, 1}, {2, std::numeric_limits<uint32_t>::max()}};
    for (const auto& row : rows) {
        Orv::ArrayBuffer<unsigned int> indices;
        try {
            Orv::ArrayUtils::SortIndecies(indices, source, row[0], row[1], kLess);
            ADD_FAILURE() << "no exception for " << row[0] << "+" << row[1];
        } catch (const Orv::Exception<std::out_of_range>& error) {
            EXPECT_THAT(error.what(),
                        ::testing::MatchesRegex("Out of Range : Orv::ArrayUtils::SortIndecies : "
                                                "Utilities.Storage.ArrayUtils : Line [0-9]+"));
        }
    }
}

}  // namespace
