// The program's compiled-in resources, generated from tests/fixtures/resources.

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <windows.h>

namespace {

std::vector<BYTE> FixtureBytes(const std::string& relative)
{
    std::ifstream in(std::string(ORV_FIXTURES_DIR) + "/resources/" + relative, std::ios::binary);
    EXPECT_TRUE(in) << relative;
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::vector<BYTE> ResourceBytes(HMODULE module, LPCWSTR name, LPCWSTR type)
{
    HRSRC found = FindResource(module, name, type);
    if (found == nullptr) {
        ADD_FAILURE() << "not found";
        return {};
    }
    HGLOBAL loaded = LoadResource(module, found);
    EXPECT_NE(loaded, nullptr);
    const auto* bytes = static_cast<const BYTE*>(LockResource(loaded));
    EXPECT_NE(bytes, nullptr);
    return {bytes, bytes + SizeofResource(module, found)};
}

struct FoundCase
{
    const char* label;
    LPCWSTR name;
    LPCWSTR type;
    const char* file;
};

class ResourceFound : public testing::TestWithParam<FoundCase>
{
};

TEST_P(ResourceFound, HoldsTheFileBytes)
{
    const FoundCase& c = GetParam();
    for (HMODULE module : {static_cast<HMODULE>(nullptr), GetProgramModuleHandle()}) {
        EXPECT_EQ(ResourceBytes(module, c.name, c.type), FixtureBytes(c.file));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Resources, ResourceFound,
    testing::Values(
        FoundCase{"DotAndBlankBecomeUnderscores", u"TILE_SHEET_PNG", u"GDIPLUS",
                  "GDIPLUS/Tile Sheet.png"},
        FoundCase{"NameInAnyCase", u"tile_Sheet_png", u"GDIPLUS", "GDIPLUS/Tile Sheet.png"},
        FoundCase{"TypeInAnyCase", u"WHITE_PNG", u"GdiPlus", "GDIPLUS/white.png"},
        FoundCase{"DocumentWithoutExtension", u"APP_STRINGS", u"ORVXML", "ORVXML/APP_STRINGS"}),
    [](const auto& info) { return std::string(info.param.label); });

TEST(Resources, EmptyFileIsAnEmptyResourceWithReadableBytes)
{
    HRSRC found = FindResource(nullptr, u"EMPTY_PNG", u"GDIPLUS");
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(SizeofResource(nullptr, found), 0u);
    EXPECT_NE(LockResource(LoadResource(nullptr, found)), nullptr);
}

struct MissingCase
{
    const char* label;
    HMODULE module;
    LPCWSTR name;
    LPCWSTR type;
    DWORD error;
};

class ResourceMissing : public testing::TestWithParam<MissingCase>
{
};

TEST_P(ResourceMissing, IsNullWithTheReason)
{
    const MissingCase& c = GetParam();
    SetLastError(ERROR_SUCCESS);
    EXPECT_EQ(FindResource(c.module, c.name, c.type), nullptr);
    EXPECT_EQ(GetLastError(), c.error);
}

INSTANTIATE_TEST_SUITE_P(
    Resources, ResourceMissing,
    testing::Values(
        MissingCase{"UnknownName", nullptr, u"NOPE_PNG", u"GDIPLUS", ERROR_RESOURCE_NAME_NOT_FOUND},
        MissingCase{"NameOfAnotherType", nullptr, u"APP_STRINGS", u"GDIPLUS",
                    ERROR_RESOURCE_NAME_NOT_FOUND},
        MissingCase{"UnknownType", nullptr, u"WHITE_PNG", u"BITMAP", ERROR_RESOURCE_TYPE_NOT_FOUND},
        MissingCase{"FileNameIsNotTheResourceName", nullptr, u"white.png", u"GDIPLUS",
                    ERROR_RESOURCE_NAME_NOT_FOUND},
        MissingCase{"PrefixOfAName", nullptr, u"WHITE", u"GDIPLUS", ERROR_RESOURCE_NAME_NOT_FOUND},
        MissingCase{"IntegerName", nullptr, MAKEINTRESOURCEW(101), u"GDIPLUS",
                    ERROR_RESOURCE_NAME_NOT_FOUND},
        MissingCase{"NullName", nullptr, nullptr, u"GDIPLUS", ERROR_RESOURCE_NAME_NOT_FOUND},
        MissingCase{"NullType", nullptr, u"WHITE_PNG", nullptr, ERROR_RESOURCE_TYPE_NOT_FOUND},
        MissingCase{"OtherModule", reinterpret_cast<HMODULE>(0x5000), u"WHITE_PNG", u"GDIPLUS",
                    ERROR_RESOURCE_DATA_NOT_FOUND}),
    [](const auto& info) { return std::string(info.param.label); });

TEST(Resources, HandlesNotGivenByTheLayerAreRefused)
{
    BYTE notAResource[16] = {};
    auto* lying = reinterpret_cast<HRSRC>(notAResource);
    SetLastError(ERROR_SUCCESS);
    EXPECT_EQ(LoadResource(nullptr, lying), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_EQ(SizeofResource(nullptr, lying), 0u);
    EXPECT_EQ(LockResource(reinterpret_cast<HGLOBAL>(notAResource)), nullptr);
    EXPECT_EQ(LoadResource(nullptr, nullptr), nullptr);
    EXPECT_EQ(LockResource(nullptr), nullptr);

    HRSRC real = FindResource(nullptr, u"WHITE_PNG", u"GDIPLUS");
    ASSERT_NE(real, nullptr);
    EXPECT_EQ(LoadResource(reinterpret_cast<HMODULE>(0x5000), real), nullptr);
    EXPECT_EQ(SizeofResource(reinterpret_cast<HMODULE>(0x5000), real), 0u);
}

}  // namespace
