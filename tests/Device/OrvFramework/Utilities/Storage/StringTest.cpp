// The strings: sharing and copy-on-write, the locked state, pieces, edits, searches.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "Utilities/Storage/StringT.h"

namespace {

using Orv::NarrowString;
using Orv::WideString;

std::u16string Text(const WideString& s)
{
    return std::u16string(s.GetText(), static_cast<std::size_t>(s.GetLength()));
}

std::vector<std::u16string> Texts(const Orv::StringArray& array)
{
    std::vector<std::u16string> out;
    for (uint32_t i = 0; i < array.GetCount(); ++i) {
        out.push_back(Text(array.GetAt(i)));
    }
    return out;
}

TEST(String, EveryKindOfEmptyIsEmpty)
{
    WideString byDefault;
    WideString fromEmpty(u"");
    WideString fromNull(static_cast<const char16_t*>(nullptr));
    WideString assigned(u"x");
    assigned = static_cast<const char16_t*>(nullptr);
    WideString zeroChar(u'\0');
    for (const WideString* s : {&byDefault, &fromEmpty, &fromNull, &assigned, &zeroChar}) {
        EXPECT_TRUE(s->IsEmpty());
        EXPECT_EQ(s->GetLength(), 0);
        EXPECT_TRUE(s->Equals(static_cast<const char16_t*>(nullptr)));
        EXPECT_TRUE(s->Equals(u""));
        EXPECT_EQ(s->GetBufferSize(), 2u) << "one NUL character";
        EXPECT_EQ(s->GetText()[0], u'\0');
    }
    EXPECT_EQ(byDefault.GetText(), fromEmpty.GetText()) << "all share one buffer";
    EXPECT_FALSE(WideString(u"a").Equals(static_cast<const char16_t*>(nullptr)));
    EXPECT_EQ(NarrowString().GetBufferSize(), 1u);
}

TEST(String, AppendingToACopyLeavesTheOriginalAlone)
{
    const WideString original(u"abc");
    WideString copy(original);
    EXPECT_EQ(copy.GetText(), original.GetText()) << "copies share the buffer until one writes";
    copy.Append(WideString(u"def"));
    EXPECT_EQ(Text(original), u"abc");
    EXPECT_EQ(Text(copy), u"abcdef");
    EXPECT_EQ(copy.GetBufferSize(), 14u) << "an unlocked buffer is exactly the text and its NUL";

    WideString assigned;
    assigned = original;
    assigned += original;
    EXPECT_EQ(Text(assigned), u"abcabc");
    EXPECT_EQ(Text(original), u"abc");
    WideString self(u"xy");
    self.Append(self);
    EXPECT_EQ(Text(self), u"xyxy");
    EXPECT_EQ(Text(original + WideString(u"!")), u"abc!");
}

TEST(String, LockGivesAPrivateBufferAndUnlockCutsItToTheText)
{
    WideString shared(u"hello");
    WideString other(shared);
    char16_t* text = shared.Lock(32);
    ASSERT_NE(text, nullptr);
    EXPECT_TRUE(shared.IsLocked());
    EXPECT_EQ(shared.Lock(), nullptr) << "a string cannot be locked twice";
    EXPECT_NE(static_cast<const char16_t*>(text), other.GetText());
    EXPECT_EQ(shared.GetBufferSize(), 64u);
    EXPECT_EQ(shared.GetLength(), 5);
    text[5] = u'!';
    text[6] = 0;
    EXPECT_EQ(shared.GetLength(), 6);

    WideString copyOfLocked(shared);
    EXPECT_NE(copyOfLocked.GetText(), shared.GetText()) << "a locked text is copied, never shared";
    EXPECT_EQ(Text(copyOfLocked), u"hello!");
    EXPECT_FALSE(copyOfLocked.IsLocked());

    shared.Assign(u"in place");
    EXPECT_TRUE(shared.IsLocked());
    EXPECT_EQ(shared.GetText(), text) << "a locked string is written in place";
    shared.Assign(u"a text longer than the thirty-two characters locked");
    EXPECT_EQ(Text(shared), u"a text longer than the thirty-two characters locked");

    EXPECT_EQ(shared.Unlock(), 0);
    EXPECT_EQ(shared.Unlock(), 1);
    EXPECT_EQ(shared.GetBufferSize(), 2u * (51 + 1));
    EXPECT_EQ(Text(other), u"hello");

    WideString blank(u"abc");
    blank.Lock(10)[0] = 0;
    blank.Unlock();
    EXPECT_TRUE(blank.IsEmpty());
    EXPECT_EQ(blank.GetText(), WideString(u"").GetText()) << "an emptied text shares the empty one";
}

TEST(String, LockedAssignmentsAndClearStayLocked)
{
    WideString s(u"abc");
    s.Lock(8);
    s = WideString(u"xyz");
    EXPECT_TRUE(s.IsLocked());
    EXPECT_EQ(Text(s), u"xyz");
    s.Clear();
    EXPECT_TRUE(s.IsLocked());
    EXPECT_TRUE(s.IsEmpty());
    s.Assign(s.GetText());
    EXPECT_TRUE(s.IsEmpty());
    s.Assign(u"0123456789abcdef");
    s.Assign(s.GetText() + 10);
    EXPECT_EQ(Text(s), u"abcdef") << "a text taken from the string itself";
    s.Unlock();
}

TEST(String, Mid)
{
    struct Row
    {
        int start;
        int count;
        const char16_t* expected;
    };
    const WideString text(u"abcdef");
    const Row rows[] = {
        {-3, 2, u"de"}, {-8, 4, u"ab"}, {6, 1, u""},         {2, 100, u"cdef"},
        {0, 0, u""},    {1, -2, u""},   {-100, 3, u""},      {0, 6, u"abcdef"},
        {5, 1, u"f"},   {-1, 1, u"f"},  {INT32_MIN, 5, u""}, {3, INT32_MAX, u"def"},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(Text(text.Mid(row.start, row.count)), row.expected)
            << row.start << "," << row.count;
    }
    EXPECT_EQ(Text(text.Mid(2)), u"cdef");
    EXPECT_EQ(Text(text.Mid(-2)), u"ef");
    EXPECT_EQ(Text(text.Mid(INT32_MIN)), u"abcdef");
    EXPECT_EQ(Text(text.Left(2)), u"ab");
    EXPECT_EQ(Text(text.Left(-2)), u"");
    EXPECT_EQ(Text(text.Left(99)), u"abcdef");
    EXPECT_EQ(Text(text.Right(2)), u"ef");
    EXPECT_EQ(Text(text.Right(-2)), u"");
    EXPECT_EQ(Text(text.Right(INT32_MIN)), u"");
    EXPECT_EQ(Text(text.Right(10)), u"abcdef");
    EXPECT_EQ(NarrowString("abcdef").Right(3).GetText(), std::string("def"));
}

TEST(String, Split)
{
    struct Row
    {
        const char16_t* text;
        std::vector<std::u16string> pieces;
    };
    const Row rows[] = {
        {u"", {u""}},
        {u"a,,b", {u"a", u"", u"b"}},
        {u"a,", {u"a"}},
        {u",a", {u"", u"a"}},
        {u"abc", {u"abc"}},
        {u",", {u""}},
        {u"a;b,c", {u"a", u"b", u"c"}},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(Texts(WideString(row.text).Split(WideString(u",;"))), row.pieces)
            << Text(row.text).size();
    }
    Orv::StringArray array;
    array.AddItem(WideString(u"old"));
    EXPECT_EQ(WideString(u"x y").SplitAtAnyOf(array, WideString(u" ")), 2);
    EXPECT_EQ(Texts(array), (std::vector<std::u16string>{u"x", u"y"}));
}

TEST(String, Trim)
{
    EXPECT_EQ(Text(WideString(u"  \t").Trim()), u"");
    EXPECT_EQ(Text(WideString(u"   ").TrimLeft(WideString(u" "))), u"   ")
        << "a text only of set characters comes back unchanged";
    EXPECT_EQ(Text(WideString(u"   ").TrimRight(WideString(u" "))), u"");
    EXPECT_EQ(Text(WideString(u" \r\n a b \t").Trim()), u"a b");
    EXPECT_EQ(Text(WideString(u"xxaxx").TrimLeft(WideString(u"x"))), u"axx");
    EXPECT_EQ(Text(WideString(u"xxaxx").TrimRight(WideString(u"x"))), u"xxa");
    EXPECT_EQ(Text(WideString(u"").TrimLeft()), u"");
}

TEST(String, Insert)
{
    WideString s(u"abcdef");
    EXPECT_EQ(s.Insert(7, WideString(u"X")), E_INVALIDARG);
    EXPECT_EQ(Text(s), u"abcdef");
    EXPECT_EQ(s.Insert(6, WideString(u"!")), S_OK);
    EXPECT_EQ(s.Insert(0, WideString(u"<")), S_OK);
    EXPECT_EQ(s.Insert(3, u"123", 2), S_OK);
    EXPECT_EQ(Text(s), u"<ab12cdef!");
    EXPECT_EQ(s.Insert(-5, u"-", 99), S_OK) << "a negative index is the start";
    EXPECT_EQ(s.Insert(1, u"zz", -3), S_OK) << "a negative count inserts nothing";
    EXPECT_EQ(Text(s), u"-<ab12cdef!");
    EXPECT_EQ(s.InsertUtf8(1, "\xC3\xA9"), S_OK);
    EXPECT_EQ(Text(s), u"-\u00E9<ab12cdef!");
    WideString t;
    t.AppendChar(u'a');
    t.AppendChar('b');
    t.AppendChar(static_cast<char>(0xC3));
    t.AppendChar(u'\0');
    EXPECT_EQ(Text(t), u"ab");
}

TEST(String, CompareAndSearch)
{
    const WideString s(u"abcabc");
    EXPECT_EQ(s.Find(WideString(u"bc")), 1);
    EXPECT_EQ(s.Find(WideString(u"bc"), 2), 4);
    EXPECT_EQ(s.Find(WideString(u"bc"), 5), -1);
    EXPECT_EQ(s.Find(WideString(u"zz")), -1);
    EXPECT_EQ(s.FindOneOf(WideString(u"xc")), 2);
    EXPECT_EQ(s.FindOneOf(WideString(u"xc"), 3), 5);
    EXPECT_EQ(s.FindOneOf(WideString(u"xy")), -1);
    EXPECT_EQ(s.ReverseFind(u'a'), 3);
    EXPECT_EQ(s.ReverseFind('b'), 4);
    EXPECT_EQ(s.ReverseFind(static_cast<char>(0xE9)), -1);
    EXPECT_EQ(s.ReverseFind(u'z'), -1);
    EXPECT_TRUE(s.Equals(u"abcabc"));
    EXPECT_FALSE(s.Equals(u"abcab"));
    EXPECT_TRUE(s.Equals("abcabc")) << "other-width text is converted first";
    EXPECT_TRUE(s == WideString(u"abcabc"));
    EXPECT_TRUE(NarrowString("\xC3\xA9").Equals(u"\u00E9"));

    EXPECT_TRUE(WideString(u"ab").Less(WideString(u"abc")));
    EXPECT_FALSE(WideString(u"abc").Less(WideString(u"ab")));
    EXPECT_TRUE(WideString(u"Z").Less(WideString(u"a")));
    EXPECT_FALSE(WideString(u"\uFF5E").Less(WideString(u"\xD83D\xDE00")))
        << "ordinal order of the 16-bit units, not of the code points";
    EXPECT_FALSE(s.Less(s));
    EXPECT_TRUE(NarrowString("a").Less(NarrowString("\xC3\xA9"))) << "bytes compare unsigned";
}

TEST(String, EditsAndCaseMappings)
{
    WideString s(u"a-b_c");
    const WideString shared(s);
    s.ReplaceChars(u"-_", u' ');
    EXPECT_EQ(Text(s), u"a b c");
    EXPECT_EQ(Text(shared), u"a-b_c") << "the shared text is copied before it is written";
    s.ReplaceChars(u" ", 0);
    EXPECT_EQ(Text(s), u"a b c");
    EXPECT_EQ(Text(WideString(u"straße Ärger ǅ").ToUpper()), u"STRAßE ÄRGER Ǆ");
    EXPECT_EQ(Text(WideString(u"ÄRGER Σ I").ToLower()), u"ärger σ i");
    EXPECT_EQ(std::string(NarrowString("MiX\xC3\x84").ToLower().GetText()), "mix\xC3\x84");
}

TEST(String, NumbersFromText)
{
    EXPECT_EQ(WideString(u"  -42abc").ToInt(), -42);
    EXPECT_EQ(WideString(u"abc").ToInt(), 0);
    EXPECT_EQ(WideString(u"99999999999").ToInt(), 2147483647);
    EXPECT_EQ(WideString(u"-99999999999").ToInt(), -2147483647 - 1);
    EXPECT_EQ(WideString(u" 2.5e1x").ToDouble(), 25.0);
    EXPECT_EQ(WideString(u"-.5").ToDouble(), -0.5);
    EXPECT_EQ(WideString(u"1e999").ToDouble(), HUGE_VAL);
    EXPECT_EQ(WideString(u"1e-999").ToDouble(), 0.0);
    EXPECT_EQ(WideString(u"x1").ToDouble(), 0.0);
    EXPECT_EQ(NarrowString("+17").ToInt(), 17);
    EXPECT_EQ(NarrowString("3.25").ToDouble(), 3.25);
}

TEST(String, ConversionsBetweenWidths)
{
    const WideString wide(u"A\u00E9\u20AC\xD83D\xDE00");
    const NarrowString narrow = wide.ToNarrow();
    EXPECT_EQ(std::string(narrow.GetText()), "A\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80");
    EXPECT_EQ(narrow.GetLength(), 10);
    EXPECT_TRUE(WideString(narrow).Equals(wide));
    EXPECT_TRUE(WideString("A\xC3\xA9").Equals(u"A\u00E9"));

    WideString bad;
    EXPECT_EQ(bad.AssignNarrow("ok\xC0\x80rest"), E_FAIL);
    EXPECT_EQ(Text(bad), u"ok") << "the text before the fault is kept";
    EXPECT_EQ(bad.AssignNarrow("abcdef", 3), S_OK);
    EXPECT_EQ(Text(bad), u"abc");
    EXPECT_EQ(bad.AssignNarrow("\xC3\xA9", 1), E_FAIL) << "a count that cuts a character";
    EXPECT_EQ(bad.AssignNarrow(nullptr), S_OK);
    EXPECT_TRUE(bad.IsEmpty());

    NarrowString lone;
    EXPECT_EQ(lone.AssignWide(u"a\xD800"), S_OK) << "lenient: the lone surrogate is encoded";
    EXPECT_EQ(std::string(lone.GetText()), "a\xED\xA0\x80");

    WideString locked(u"abc");
    locked.Lock(16);
    EXPECT_EQ(locked.AssignUtf8("x\xC3\xA9y", 3), S_OK);
    EXPECT_TRUE(locked.IsLocked());
    EXPECT_EQ(Text(locked), u"x\u00E9");
    EXPECT_EQ(locked.AssignUtf8("\xFF"), E_FAIL);
    EXPECT_TRUE(locked.IsEmpty());
    locked.Unlock();
}

TEST(StringArray, FindAndFindPointer)
{
    Orv::StringArray array;
    array.AddItem(WideString(u"Alpha"));
    array.AddItem(WideString(u"beta"));
    array.AddItem(WideString(u"ÄRGER"));
    array.AddItem(WideString(u"beta"));
    EXPECT_EQ(array.Find(WideString(u"beta")), 1);
    EXPECT_EQ(array.Find(WideString(u"beta"), true, 2), 3);
    EXPECT_EQ(array.Find(WideString(u"alpha")), -1);
    EXPECT_EQ(array.Find(WideString(u"alpha"), false), 0);
    EXPECT_EQ(array.Find(WideString(u"ärger"), false), 2);
    EXPECT_EQ(array.Find(WideString(u"beta"), true, 4), -1);
    EXPECT_EQ(array.Find(WideString(u"beta"), true, -1), -1) << "start compares unsigned";
    EXPECT_EQ(array.FindPointer(array.GetAt(3).GetText()), 3);
    EXPECT_EQ(array.FindPointer(u"beta"), -1) << "by pointer, not by text";
    EXPECT_EQ(Orv::StringArray().Find(WideString(u"x")), -1);
}

}  // namespace
