// The value arrays: Array<T> (a vector) and ArrayBuffer<T> (a byte buffer), through IArray.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "Utilities/Storage/Array.h"
#include "Utilities/Storage/ArrayBuffer.h"

namespace {

template <class T>
std::vector<T> Contents(const Orv::IIterable<T>& array)
{
    std::vector<T> out;
    auto it = array.Begin();
    for (uint32_t i = 0; i < array.GetCount(); ++i) {
        out.push_back(array.GetItem(it.position));
        it.position = array.Advance(it.position, 1);
    }
    return out;
}

template <class ArrayType>
void Fill(ArrayType& array, std::initializer_list<int> values)
{
    array.SetCount(0);
    for (int v : values) {
        array.AddItem(v);
    }
}

TEST(Array, EmptyArraysHaveEqualNullBeginAndEnd)
{
    Orv::Array<std::string> strings;
    Orv::ArrayBuffer<int> numbers;
    EXPECT_EQ(strings.Begin().position, nullptr);
    EXPECT_EQ(strings.End().position, nullptr);
    EXPECT_EQ(numbers.Begin().position, numbers.End().position);
    EXPECT_EQ(numbers.GetData(), nullptr);
    EXPECT_EQ(strings.GetData(), nullptr);
    EXPECT_TRUE(Contents<int>(numbers).empty());
    numbers.AddItem(1);
    numbers.SetCount(0);
    EXPECT_EQ(numbers.Begin().position, nullptr) << "an emptied array has no positions either";
}

TEST(Array, AdvanceStopsAtTheEnds)
{
    Orv::ArrayBuffer<int> numbers;
    Fill(numbers, {1, 2, 3});
    const int* first = numbers.GetFirst();
    EXPECT_EQ(numbers.Advance(first, 10), numbers.GetEnd());
    EXPECT_EQ(numbers.Advance(first + 2, -7), first);
    EXPECT_EQ(numbers.Advance(first, 2), first + 2);

    Orv::Array<std::string> strings;
    strings.AddItem("a");
    EXPECT_EQ(strings.Advance(strings.GetFirst(), 5), strings.GetEnd());
    EXPECT_EQ(strings.Advance(strings.GetEnd(), -5), strings.GetFirst());
}

TEST(Array, RangeRulesOfTheVectorArray)
{
    Orv::Array<std::string> strings;
    strings.AddItem("x");
    EXPECT_EQ(strings.InsertItems(1, 3), 4);
    EXPECT_EQ(Contents<std::string>(strings), (std::vector<std::string>{"x", "", "", ""}));
    EXPECT_EQ(strings.InsertItems(5, 1), E_INVALIDARG);
    EXPECT_EQ(strings.RemoveItems(4, 0), E_INVALIDARG) << "at the end is outside, even for none";
    EXPECT_EQ(strings.RemoveItems(2, 3), E_INVALIDARG);
    EXPECT_EQ(strings.GetCount(), 4u);
    EXPECT_EQ(strings.InsertItem(1, "y"), 1) << "InsertItem gives the index";
    EXPECT_EQ(strings.InsertItem(9, "z"), E_INVALIDARG);
    EXPECT_EQ(strings.RemoveItems(2, 3), 2);
    EXPECT_EQ(Contents<std::string>(strings), (std::vector<std::string>{"x", "y"}));
}

TEST(Array, IndexAccessBeyondTheEndThrowsAndRemovesNothing)
{
    Orv::Array<double> values;
    values.AddItem(1.5);
    try {
        values.GetAt(1);
        FAIL() << "no exception";
    } catch (const std::out_of_range& error) {
        EXPECT_STREQ(error.what(), "invalid vector<T> subscript");
    }
    double out = 0;
    EXPECT_THROW(values.RemoveItem(3, out), std::out_of_range);
    EXPECT_EQ(values.GetCount(), 1u);
    EXPECT_EQ(values.RemoveLastItem(out), 0);
    EXPECT_EQ(out, 1.5);
    EXPECT_THROW(values.RemoveLastItem(out), std::out_of_range);
}

TEST(ArrayBuffer, RangeRulesOfTheBufferArray)
{
    Orv::ArrayBuffer<unsigned int> numbers;
    EXPECT_EQ(numbers.InsertItem(0, 7u), 1) << "InsertItem gives the new count";
    EXPECT_EQ(numbers.InsertItem(0, 6u), 2);
    EXPECT_EQ(numbers.InsertItems(1, 2), 4);
    EXPECT_EQ(Contents<unsigned int>(numbers), (std::vector<unsigned int>{6, 0, 0, 7}));
    EXPECT_EQ(numbers.RemoveItems(4, 0), 4) << "nothing to remove gives the count";
    EXPECT_EQ(numbers.InsertItems(9, 0), 4);
    EXPECT_EQ(numbers.InsertItems(5, 1), E_INVALIDARG);
    EXPECT_EQ(numbers.RemoveItems(3, 2), E_INVALIDARG);
    EXPECT_EQ(numbers.RemoveItems(1, 2), 2);
    EXPECT_EQ(Contents<unsigned int>(numbers), (std::vector<unsigned int>{6, 7}));
    EXPECT_EQ(numbers.SwapItems(0, 1), S_OK);
    EXPECT_EQ(numbers.SwapItems(0, 2), E_INVALIDARG);
    EXPECT_EQ(Contents<unsigned int>(numbers), (std::vector<unsigned int>{7, 6}));
}

TEST(ArrayBuffer, RemovingBeyondTheEndReadsNothing)
{
    Orv::ArrayBuffer<int> numbers;
    int out = 42;
    EXPECT_EQ(numbers.RemoveLastItem(out), E_INVALIDARG) << "an empty array has no last item";
    Fill(numbers, {1, 2});
    EXPECT_EQ(numbers.RemoveItem(2, out), E_INVALIDARG);
    EXPECT_EQ(out, 42);
    EXPECT_EQ(numbers.RemoveLastItem(out), 1);
    EXPECT_EQ(out, 2);
}

TEST(ArrayBuffer, InsertingAnElementOfTheSameArray)
{
    Orv::ArrayBuffer<double> values;
    values.AddItem(7.5);
    // Each insertion reallocates (no slack); the element is read before that.
    for (int i = 0; i < 10; ++i) {
        values.InsertItem(0, values.GetAt(values.GetCount() - 1));
    }
    EXPECT_EQ(Contents<double>(values), std::vector<double>(11, 7.5));
}

TEST(ArrayBuffer, GrowingZeroesTheNewElementsAndKeepsTheOld)
{
    Orv::ArrayBuffer<double> values;
    values.SetCount(2);
    values.GetAt(0) = 1.25;
    values.GetAt(1) = -3;
    values.SetCount(1);
    values.SetCount(40);
    EXPECT_EQ(values.GetAt(0), 1.25);
    for (uint32_t i = 1; i < 40; ++i) {
        ASSERT_EQ(values.GetAt(i), 0.0) << i;
    }
    Orv::ArrayBuffer<unsigned int, 32, 1600> pooled;
    pooled.SetCount(1);
    EXPECT_EQ(pooled.GetCapacity(), 32u);
    pooled.SetCount(0);
    EXPECT_EQ(pooled.GetCapacity(), 32u) << "the first step stays within the slack";
}

TEST(ArrayBuffer, AppendAndAssign)
{
    Orv::ArrayBuffer<int> a;
    Orv::ArrayBuffer<int> b;
    Orv::ArrayBuffer<int> empty;
    Fill(a, {1, 2});
    Fill(b, {3, 4, 5});
    EXPECT_EQ(a.AppendItems(empty), 2);
    EXPECT_EQ(a.AppendItems(b), 5);
    EXPECT_EQ(Contents<int>(a), (std::vector<int>{1, 2, 3, 4, 5}));
    EXPECT_EQ(b.AppendItems(b), 6) << "an array appended to itself doubles";
    EXPECT_EQ(Contents<int>(b), (std::vector<int>{3, 4, 5, 3, 4, 5}));
    EXPECT_EQ(a.Assign(b), 6);
    EXPECT_TRUE(a.IsEqual(b));
    EXPECT_EQ(a.RemoveAll(), S_OK);
    EXPECT_EQ(a.GetCount(), 0u);
}

TEST(Array, AssigningAnArrayToItselfKeepsItsElements)
{
    Orv::Array<std::string> strings;
    strings.AddItem("one");
    strings.AddItem("two");
    EXPECT_EQ(strings.Assign(strings), 2);
    EXPECT_EQ(Contents<std::string>(strings), (std::vector<std::string>{"one", "two"}));

    Orv::ArrayBuffer<int> numbers;
    Fill(numbers, {4, 5});
    EXPECT_EQ(numbers.Assign(numbers), 2);
    EXPECT_EQ(Contents<int>(numbers), (std::vector<int>{4, 5}));
}

TEST(ArrayBuffer, AnImpossibleCountIsRefused)
{
    Orv::ArrayBuffer<double> values;
    EXPECT_EQ(values.SetCount(0x80000000u), E_INVALIDARG);
    EXPECT_EQ(values.SetCount(0x7FFFFFFFu), E_INVALIDARG) << "more bytes than a buffer holds";
    EXPECT_EQ(values.GetCount(), 0u);
    Fill(values, {1});
    Orv::ArrayBuffer<double> other;
    EXPECT_EQ(values.InsertItems(0, 0x7FFFFFFFu), E_INVALIDARG);
}

}  // namespace
