// The control factory: class registry and creation, the current skin's top level, the skin font,
// derived descriptors and loading documents from resources and folders.

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>

#include "ControlBase/ControlFactory.h"
#include "SkinTestSupport.h"

namespace {

using Orv::LControl;
using Orv::LControlDescriptor;
using Orv::LControlFactory;
using Orv::RCPtr;
using Orv::WideString;
using SkinTest::Narrow;
using SkinTest::ParseSkin;

class TestControl : public LControl
{
public:
    explicit TestControl(const WideString& name) : LControl(nullptr, name), name(name) {}
    WideString name;
};

int gCreated = 0;

RCPtr<LControl>& CreateTestControl(RCPtr<LControl>& result, const RCPtr<LControl>&,
                                   const RCPtr<LControlDescriptor>& descriptor)
{
    ++gCreated;
    result = RCPtr<LControl>(new TestControl(descriptor->name));
    return result;
}

RCPtr<LControl>& CreateNothing(RCPtr<LControl>& result, const RCPtr<LControl>&,
                               const RCPtr<LControlDescriptor>&)
{
    result = nullptr;
    return result;
}

const char kTwoSkins[] = R"(<Skins>
  <Skin Name="default" FontName="Arial" FontSize="9" FontStyle="0">
    <SubControl Class="Framework.Button" Name="mainControl"><Skin Name="a">
      <SubControl Class="Framework.Button" Name="deep"/></Skin></SubControl>
    <SubControl Class="Framework.Label" Name="twice"/>
    <SubControl Class="Framework.Button" Name="twice"/>
  </Skin>
  <Skin Name="highDpi">
    <SubControl Class="Framework.Label" Name="mainControl"/>
  </Skin>
  <Skin Name="halfFont" FontSize="0.5" FontStyle="2"/>
</Skins>)";

TEST(ControlFactory, RegistrationKeepsTheFirstFunctionAndCreationCachesIt)
{
    LControlFactory factory(u"Quorvel");
    ASSERT_EQ(ParseSkin(factory, kTwoSkins), S_OK);
    factory.currentSkinIndex = 0;
    EXPECT_EQ(factory.RegisterControlCreateFunction(u"Framework.Button", &CreateTestControl), 0);
    EXPECT_EQ(factory.RegisterControlCreateFunction(u"Framework.Button", &CreateNothing), 0);
    Orv::ControlCreateFunctionPointer function = nullptr;
    EXPECT_EQ(factory.GetControlCreateFunction(u"Framework.Button", function), 0);
    EXPECT_EQ(function, &CreateTestControl);

    const RCPtr<LControlDescriptor>& main = factory.FindSubControlDescriptor(u"mainControl");
    ASSERT_TRUE(main);
    gCreated = 0;
    RCPtr<LControl> control = factory.CreateControl(main, nullptr);
    ASSERT_TRUE(control);
    EXPECT_EQ(gCreated, 1);
    EXPECT_EQ(dynamic_cast<TestControl*>(control.Get())->name, u"mainControl");
    EXPECT_EQ(main->createFunction, &CreateTestControl);

    // A clone carries the cache: the registry is not asked again (a later registration under a
    // new factory state would not be seen either).
    RCPtr<Orv::LLayoutDescriptor> layout(new Orv::LLayoutDescriptor());
    RCPtr<LControlDescriptor> row = factory.DeriveDescriptor(main, layout, u"ItemControl0");
    EXPECT_EQ(row->name, u"ItemControl0");
    EXPECT_EQ(row->layout, layout);
    EXPECT_EQ(row->skin, main->skin);
    EXPECT_EQ(row->createFunction, &CreateTestControl);
    row->className = u"Unregistered.Class";
    EXPECT_TRUE(factory.CreateControl(row, control));
    EXPECT_EQ(gCreated, 2);
}

TEST(ControlFactory, UnregisteredClassThrowsAndCachesNothing)
{
    LControlFactory factory(u"Quorvel");
    ASSERT_EQ(ParseSkin(factory, kTwoSkins), S_OK);
    factory.currentSkinIndex = 0;
    const RCPtr<LControlDescriptor>& main = factory.FindSubControlDescriptor(u"mainControl");
    ASSERT_TRUE(main);
    try {
        factory.CreateControl(main, nullptr);
        FAIL() << "no exception";
    } catch (const std::runtime_error& error) {
        EXPECT_EQ(std::string(error.what())
                      .rfind("Runtime Error : Orv::LControlFactory::GetControlCreateFunction : "
                             "ControlBase\\ControlFactory : Line ",
                             0),
                  0u)
            << error.what();
    }
    EXPECT_EQ(main->createFunction, nullptr);

    // A function that builds nothing gives a null control.
    factory.RegisterControlCreateFunction(u"Framework.Button", &CreateNothing);
    EXPECT_FALSE(factory.CreateControl(main, nullptr));
}

TEST(ControlFactory, TopLevelLookUpUsesTheCurrentSkinOnly)
{
    LControlFactory factory(u"Quorvel");
    ASSERT_EQ(ParseSkin(factory, kTwoSkins), S_OK);
    // A parse leaves the index at the last top-level Skin; loading resets it.
    factory.currentSkinIndex = 0;
    EXPECT_EQ(factory.FindSubControlDescriptor(u"twice")->className, u"Framework.Button");
    EXPECT_FALSE(factory.FindSubControlDescriptor(u"deep"));
    EXPECT_EQ(factory.FindSubControlDescriptor(u"mainControl")->className, u"Framework.Button");
    factory.currentSkinIndex = 1;
    EXPECT_EQ(factory.FindSubControlDescriptor(u"mainControl")->className, u"Framework.Label");
    EXPECT_FALSE(factory.FindSubControlDescriptor(u"twice"));

    // An index without a skin: no controls, no font.
    for (int32_t index : {3, -1, 1000}) {
        factory.currentSkinIndex = index;
        EXPECT_FALSE(factory.FindSubControlDescriptor(u"mainControl"));
        WideString name = u"kept";
        float size = 5;
        int32_t style = 7;
        EXPECT_TRUE(factory.GetSkinFont(name, size, style));
        EXPECT_EQ(name, u"kept");
    }
}

TEST(ControlFactory, SkinFontCountsOnlyWhatTheSkinSets)
{
    LControlFactory factory(u"Quorvel");
    ASSERT_EQ(ParseSkin(factory, kTwoSkins), S_OK);
    struct Row
    {
        int32_t skin;
        bool setsNone;
        const char* name;
        float size;
        int32_t style;
    };
    const Row rows[] = {
        {0, false, "Arial", 9, 0},
        {1, true, "unchanged", -2, -3},
        // A size below 1 does not count; a style does.
        {2, false, "unchanged", -2, 2},
    };
    for (const Row& row : rows) {
        factory.currentSkinIndex = row.skin;
        WideString name = u"unchanged";
        float size = -2;
        int32_t style = -3;
        EXPECT_EQ(factory.GetSkinFont(name, size, style), row.setsNone) << row.skin;
        EXPECT_EQ(Narrow(name), row.name);
        EXPECT_EQ(size, row.size);
        EXPECT_EQ(style, row.style);
    }
}

TEST(ControlFactory, LoadingFromResources)
{
    // "::App Skins.xml" names the resource APP_SKINS_XML.
    LControlFactory factory(u"Quorvel");
    EXPECT_EQ(factory.LoadSkins(u"::App Skins.xml"), S_OK);
    ASSERT_EQ(factory.GetSkins().GetCount(), 1u);
    EXPECT_EQ(factory.currentSkinIndex, 0);
    EXPECT_TRUE(factory.FindSubControlDescriptor(u"fixtureLabel"));

    // The skin resource missing: E_FAIL, after the string tables were read.
    LControlFactory missing(u"Quorvel");
    EXPECT_EQ(missing.LoadSkinsAndStrings(u"::", 0x0409), E_FAIL);
    EXPECT_EQ(missing.GetBasePath(), u"::");
    EXPECT_EQ(missing.GetApplicationName(), u"Fixture");
    EXPECT_TRUE(missing.GetApplicationStringTable());
    EXPECT_EQ(missing.GetCurrentLanguage(), 9u);
    EXPECT_EQ(missing.GetSkins().GetCount(), 0u);
}

TEST(ControlFactory, LoadingFromAFolder)
{
    const auto folder =
        std::filesystem::temp_directory_path() / ("orv-skin-folder-" + std::to_string(getpid()));
    std::filesystem::create_directories(folder);
    const WideString base(folder.string().c_str());

    LControlFactory unreadable(u"Quorvel");
    EXPECT_EQ(unreadable.LoadSkinsAndStrings(base, 9), E_FAIL);
    EXPECT_EQ(unreadable.LoadSkins(base + u"/absent.xml"), E_FAIL);

    std::ofstream(folder / "Skins.xml") << SkinTest::Document(kTwoSkins);
    std::ofstream(folder / "StringTables.xml")
        << "<S><StringTable ID=\"|Quorvel\"><String ID=\"X\"><Locale LCID=\"9\">x</Locale>"
           "</String></StringTable></S>";
    LControlFactory factory(u"Quorvel");
    EXPECT_EQ(factory.LoadSkinsAndStrings(base, 9), S_OK);
    EXPECT_EQ(factory.GetBasePath(), base + u"\\");
    EXPECT_EQ(factory.GetSkins().GetCount(), 3u);
    EXPECT_EQ(factory.currentSkinIndex, 0);
    EXPECT_TRUE(factory.GetApplicationStringTable());

    // A second document adds its skins; the index returns to 0.
    factory.currentSkinIndex = 2;
    EXPECT_EQ(factory.LoadSkins(base + u"\\Skins.xml"), S_OK);
    EXPECT_EQ(factory.GetSkins().GetCount(), 6u);
    EXPECT_EQ(factory.currentSkinIndex, 0);

    std::ofstream(folder / "Skins.xml") << "<Skins><Skin Name=\"broken\">";
    LControlFactory broken(u"Quorvel");
    EXPECT_EQ(broken.LoadSkins(base + u"\\Skins.xml"), E_FAIL);
    EXPECT_EQ(broken.GetSkins().GetCount(), 1u);
    std::filesystem::remove_all(folder);
}

}  // namespace
