#include <string>
#include <vector>

#include "PraxenFixture.h"

namespace {

class PraxenArrays : public PraxenFixture
{
protected:
    // The items of node as another handle reads them from disk.
    std::vector<std::string> ItemsOnDisk(const char* node)
    {
        const int other = Reopen();
        int count = -1;
        EXPECT_EQ(GetArrayCount(other, node, &count), PRAXEN_OK);
        std::vector<std::string> items;
        for (int i = 0; i < count; ++i) {
            char buffer[256] = {};
            int needed = 0;
            EXPECT_EQ(GetArrayItemAt(other, node, i, buffer, sizeof buffer, &needed), PRAXEN_OK);
            items.emplace_back(buffer);
        }
        CloseIniFile(other, 0);
        return items;
    }
};

using Items = std::vector<std::string>;

TEST_F(PraxenArrays, AnAbsentArrayIsEmpty)
{
    int count = -1;
    EXPECT_EQ(GetArrayCount(handle, "Recent", &count), PRAXEN_OK);
    EXPECT_EQ(count, 0);
    char buffer[8] = {};
    int needed = 0;
    EXPECT_EQ(GetArrayItemAt(handle, "Recent", 0, buffer, sizeof buffer, &needed),
              PRAXEN_E_NO_SUCH_ITEM);
}

TEST_F(PraxenArrays, ItemsAreReplacedAppendedAndRemovedInPlace)
{
    ASSERT_EQ(SetArrayItemAt(handle, "Recent", 0, "a"), PRAXEN_OK);
    ASSERT_EQ(SetArrayItemAt(handle, "Recent", 1, "b"), PRAXEN_OK);
    ASSERT_EQ(SetArrayItemAt(handle, "Recent", 2, "c"), PRAXEN_OK);
    ASSERT_EQ(SetArrayItemAt(handle, "Recent", 1, "B"), PRAXEN_OK);
    EXPECT_EQ(ItemsOnDisk("Recent"), (Items{"a", "B", "c"}));
    EXPECT_EQ(FileText(), "; Quorvel settings, version 3\n[Recent]\n@0=a\n@1=B\n@2=c\n");

    ASSERT_EQ(RemoveArrayItemAt(handle, "Recent", 0), PRAXEN_OK);
    EXPECT_EQ(ItemsOnDisk("Recent"), (Items{"B", "c"}));
    ASSERT_EQ(RemoveArrayItemAt(handle, "Recent", 1), PRAXEN_OK);
    EXPECT_EQ(ItemsOnDisk("Recent"), (Items{"B"}));
}

TEST_F(PraxenArrays, IndexesOutsideTheArrayAreRefusedAndChangeNothing)
{
    ASSERT_EQ(SetArrayCount(handle, "Recent", 2), PRAXEN_OK);
    const std::string before = FileText();
    EXPECT_EQ(SetArrayItemAt(handle, "Recent", 3, "gap"), PRAXEN_E_NO_SUCH_ITEM);
    EXPECT_EQ(SetArrayItemAt(handle, "Recent", -1, "x"), PRAXEN_E_NO_SUCH_ITEM);
    EXPECT_EQ(RemoveArrayItemAt(handle, "Recent", 2), PRAXEN_E_NO_SUCH_ITEM);
    EXPECT_EQ(RemoveArrayItemAt(handle, "Recent", -1), PRAXEN_E_NO_SUCH_ITEM);
    EXPECT_EQ(SetArrayCount(handle, "Recent", -1), PRAXEN_E_INVALID_ARGUMENT);
    EXPECT_EQ(SetArrayCount(handle, "Recent", kPraxenMaxArrayCount + 1), PRAXEN_E_INVALID_ARGUMENT);
    EXPECT_EQ(FileText(), before);
    EXPECT_EQ(ItemsOnDisk("Recent"), (Items{"", ""}));
}

TEST_F(PraxenArrays, CountGrowsWithEmptyItemsAndShrinksFromTheEnd)
{
    for (const char* item : {"x", "y", "z"}) {
        int count = 0;
        ASSERT_EQ(GetArrayCount(handle, "List", &count), PRAXEN_OK);
        ASSERT_EQ(SetArrayItemAt(handle, "List", count, item), PRAXEN_OK);
    }
    ASSERT_EQ(SetArrayCount(handle, "List", 5), PRAXEN_OK);
    EXPECT_EQ(ItemsOnDisk("List"), (Items{"x", "y", "z", "", ""}));
    ASSERT_EQ(SetArrayCount(handle, "List", 1), PRAXEN_OK);
    EXPECT_EQ(ItemsOnDisk("List"), (Items{"x"}));
    ASSERT_EQ(SetArrayCount(handle, "List", 0), PRAXEN_OK);
    EXPECT_EQ(ItemsOnDisk("List"), Items{});
}

TEST_F(PraxenArrays, ArrayAndKeysOfOneNodeAndTheRootArrayLiveSideBySide)
{
    ASSERT_EQ(SetIniValueInt(handle, "Skins", 2), PRAXEN_OK);
    ASSERT_EQ(SetIniValueStr(handle, "Skins/Current", "Dark"), PRAXEN_OK);
    ASSERT_EQ(SetArrayItemAt(handle, "Skins", 0, "Dark"), PRAXEN_OK);
    ASSERT_EQ(SetArrayItemAt(handle, "", 0, "root item"), PRAXEN_OK);
    EXPECT_EQ(ItemsOnDisk("Skins"), (Items{"Dark"}));
    EXPECT_EQ(ItemsOnDisk(""), (Items{"root item"}));
    const int other = Reopen();
    EXPECT_EQ(GetInt(other, "Skins"), 2);
    EXPECT_EQ(GetText(other, "Skins/Current"), "Dark");
    CloseIniFile(other, 0);
}

TEST_F(PraxenArrays, ItemTextsAreBoundByTheBufferProtocol)
{
    const std::string longItem(2000, 'i');
    ASSERT_EQ(SetArrayItemAt(handle, "A", 0, longItem.c_str()), PRAXEN_OK);
    char buffer[1024] = {};
    int needed = 0;
    EXPECT_EQ(GetArrayItemAt(handle, "A", 0, buffer, sizeof buffer, &needed),
              PRAXEN_E_BUFFER_TOO_SMALL);
    EXPECT_EQ(needed, 2001);
    std::vector<char> large(2001, '?');
    EXPECT_EQ(GetArrayItemAt(handle, "A", 0, large.data(), 2001, &needed), PRAXEN_OK);
    EXPECT_EQ(std::string(large.data()), longItem);
}

}  // namespace
