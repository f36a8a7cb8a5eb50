// Creation from small skins: deferred sub-controls, create parameters, sub-controls that cannot
// be built, what Initialize takes from the string table, looks per slot, fonts, and the slots'
// order.

#include <gtest/gtest.h>

#include <unistd.h>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "ControlBase/StringTable.h"
#include "ControlTestSupport.h"
#include "ObjectBase/Exception.h"
#include "Utilities/Graphics/Font.h"

namespace {

using ControlTest::ControlFixture;
using ControlTest::DebugCapture;
using ControlTest::Narrow;
using Orv::LControl;
using Orv::LControlDescriptor;
using Orv::RCPtr;
using Orv::WideString;

std::string Document(const std::string& body)
{
    return "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<Document>\n" + body + "\n</Document>\n";
}

// One SubControl element; params are CreateParam pairs.
std::string SubControl(const std::string& name, const std::string& attributes,
                       const std::vector<std::pair<std::string, std::string>>& params = {},
                       const std::string& inside = "", const std::string& className = "Test.Base")
{
    std::string element =
        "<SubControl Class=\"" + className + "\" Name=\"" + name + "\" " + attributes + ">";
    if (!params.empty()) {
        element += "<CreateParamList>";
        for (const auto& [id, text] : params) {
            element += "<CreateParam ID=\"" + id + "\">" + text + "</CreateParam>";
        }
        element += "</CreateParamList>";
    }
    return element + inside + "</SubControl>";
}

std::string Skin(const std::string& name, const std::string& attributes, const std::string& inside)
{
    return "<Skin Name=\"" + name + "\" " + attributes + ">" + inside + "</Skin>";
}

class ControlCreation : public ControlFixture
{
protected:
    void SetUp() override
    {
        ControlFixture::SetUp();
        RegisterBase(u"Test.Base");
    }

    // Reads the skin document.
    void ParseSkins(const std::string& skins)
    {
        const std::string document = Document(skins);
        EXPECT_EQ(factory->ParseXml(document.data(), document.size()), 0)
            << Narrow(factory->GetLastErrorText());
    }

    // The document's skin, the top-level control "top" built from it.
    RCPtr<LControl> BuildTop(const std::string& skins)
    {
        ParseSkins(skins);
        return factory->CreateControlByName(u"top", nullptr);
    }

    static std::string TopWith(const std::string& children, const std::string& topAttributes)
    {
        return "<Skins>" +
               Skin("Default", "",
                    SubControl("top", topAttributes, {}, Skin("top", "", children))) +
               "</Skins>";
    }

    // A top with the given children.
    RCPtr<LControl> BuildTopWith(const std::string& children, const std::string& topAttributes = "")
    {
        return BuildTop(TopWith(children, topAttributes));
    }

    // Reads a string-table document for language 0x0009.
    void LoadStrings(const std::string& body)
    {
        const std::string path = "/tmp/orv-control-strings-" + std::to_string(getpid());
        FILE* file = std::fopen(path.c_str(), "wb");
        ASSERT_NE(file, nullptr);
        const std::string document =
            Document("<Application Name=\"Quorvel\">" + body + "</Application>");
        std::fwrite(document.data(), 1, document.size(), file);
        std::fclose(file);
        ASSERT_EQ(factory->LoadStringTables(WideString(path.c_str()),
                                            WideString((path + "-none").c_str()), 0x0009),
                  0);
        std::remove(path.c_str());
    }
};

struct DeferCase
{
    const char* name;
    const char* text;
    bool created;
};

class DeferCreate : public ControlCreation, public testing::WithParamInterface<DeferCase>
{
};

TEST_P(DeferCreate, OnlyTrueAfterTrimmingAndLowerCasingDefers)
{
    RCPtr<LControl> top =
        BuildTopWith(SubControl("before", "") +
                     SubControl("maybe", "LayoutOrder=\"1\"", {{"DEFER_CREATE", GetParam().text}}) +
                     SubControl("after", "LayoutOrder=\"2\""));
    ASSERT_TRUE(top);
    EXPECT_EQ(bool(top->FindChild(u"maybe")), GetParam().created);
    EXPECT_TRUE(top->FindChild(u"before"));
    EXPECT_TRUE(top->FindChild(u"after"));
}

INSTANTIATE_TEST_SUITE_P(Rows, DeferCreate,
                         testing::Values(DeferCase{"BlankTrueLineBreak", " TRUE\n", false},
                                         DeferCase{"TabsAndCarriageReturn", "\ttrue\r", false},
                                         DeferCase{"MixedCase", "True", false},
                                         DeferCase{"Yes", "yes", true}, DeferCase{"One", "1", true},
                                         DeferCase{"False", "false", true},
                                         DeferCase{"TrueWithinText", "truey", true}),
                         [](const testing::TestParamInfo<DeferCase>& info) {
                             return std::string(info.param.name);
                         });

TEST_F(ControlCreation, ADeferredSubControlIsBuiltLaterByName)
{
    RCPtr<LControl> top = BuildTop(
        "<Skins>" +
        Skin("Default", "",
             SubControl("top", "", {}, Skin("top", "", "")) +
                 SubControl("later", "", {{"DEFER_CREATE", "True"}}, Skin("later", "", ""))) +
        "</Skins>");
    RCPtr<LControl> later = factory->CreateControlByName(u"later", nullptr);
    ASSERT_TRUE(later);
    EXPECT_TRUE(later->IsCreated());
    EXPECT_FALSE(factory->CreateControlByName(u"nobody", nullptr));
}

struct ParamsCase
{
    const char* name;
    const char* attributes;
    std::vector<std::pair<std::string, std::string>> params;
    double value;
    bool notFocusable;
    bool wantsTab;
    bool useParentToolTip;
};

class CreateParams : public ControlCreation, public testing::WithParamInterface<ParamsCase>
{
};

TEST_P(CreateParams, AreReadByTheBase)
{
    const ParamsCase& row = GetParam();
    RCPtr<LControl> top = BuildTopWith(SubControl("child", row.attributes, row.params));
    ASSERT_TRUE(top);
    RCPtr<LControl> child = top->FindChild(u"child");
    ASSERT_TRUE(child);
    EXPECT_EQ(child->GetValuePosition(), row.value);
    EXPECT_EQ(child->IsNotFocusable(), row.notFocusable);
    EXPECT_EQ(child->WantsTab(), row.wantsTab);
    EXPECT_EQ(child->UsesParentToolTip(), row.useParentToolTip);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, CreateParams,
    testing::Values(
        ParamsCase{"NoneTabStopZeroIsFocusable", "TabStop=\"0\"", {}, 0, false, false, false},
        ParamsCase{"NoneTabStopNegativeIsNot", "TabStop=\"-1\"", {}, 0, true, false, false},
        ParamsCase{"InitialValueClamped", "", {{"INITIAL_VALUE", "2.5"}}, 1, false, false, false},
        ParamsCase{"InitialValueText", "", {{"INITIAL_VALUE", "abc"}}, 0, false, false, false},
        ParamsCase{"InitialValueLeadingNumber",
                   "",
                   {{"INITIAL_VALUE", " 0.25xyz"}},
                   0.25,
                   false,
                   false,
                   false},
        ParamsCase{"InitialValueNaN", "", {{"INITIAL_VALUE", "nan"}}, 0, false, false, false},
        ParamsCase{"NotFocusableOverridesTabStop",
                   "TabStop=\"-1\"",
                   {{"NOT_FOCUSABLE", " false "}},
                   0,
                   false,
                   false,
                   false},
        ParamsCase{"NotFocusableTrue", "", {{"NOT_FOCUSABLE", "TRUE"}}, 0, true, false, false},
        ParamsCase{"Flags",
                   "",
                   {{"WANTS_TAB", "true"}, {"USE_PARENT_TOOLTIP", "\ntrue"}},
                   0,
                   false,
                   true,
                   true}),
    [](const testing::TestParamInfo<ParamsCase>& info) { return std::string(info.param.name); });

// A class whose creation fails after the control joined its parent.
RCPtr<LControl>& CreateThenFail(RCPtr<LControl>& result, const RCPtr<LControl>& parent,
                                const RCPtr<LControlDescriptor>& descriptor)
{
    RCPtr<LControl> control(new LControl(parent, descriptor->name));
    control->ApplyDescriptor(descriptor);
    ORV_THROW_NULL_POINTER("Test.Failing has no part");
    return result;
}

RCPtr<LControl>& CreateNothing(RCPtr<LControl>& result, const RCPtr<LControl>&,
                               const RCPtr<LControlDescriptor>&)
{
    result = nullptr;
    return result;
}

TEST_F(ControlCreation, ASubControlThatFailsIsNamedAndItsSiblingsAreStillBuilt)
{
    factory->RegisterControlCreateFunction(u"Test.Failing", &CreateThenFail);
    factory->RegisterControlCreateFunction(u"Test.Nothing", &CreateNothing);
    DebugCapture debug;
    RCPtr<LControl> top =
        BuildTopWith(SubControl("first", "") +
                     SubControl("unknown", "LayoutOrder=\"1\"", {}, "", "Test.Unregistered") +
                     SubControl("failing", "LayoutOrder=\"2\"", {}, "", "Test.Failing") +
                     SubControl("nothing", "LayoutOrder=\"3\"", {}, "", "Test.Nothing") +
                     SubControl("last", "LayoutOrder=\"4\""));
    ASSERT_TRUE(top);
    ASSERT_EQ(top->GetChildren().GetCount(), 2u);
    EXPECT_TRUE(top->FindChild(u"first"));
    EXPECT_TRUE(top->FindChild(u"last"));
    // The half-built control went again.
    EXPECT_FALSE(top->FindChild(u"failing"));
    EXPECT_EQ(LControl::GetLiveCount(), 3);
    const std::string said = debug.Text();
    for (const char* named : {"\"unknown\"", "\"failing\"", "\"nothing\""}) {
        EXPECT_NE(said.find(named), std::string::npos) << named << " in: " << said;
    }
    EXPECT_NE(said.find("Test.Failing has no part"), std::string::npos) << said;
}

TEST_F(ControlCreation, ADuplicateSubControlNameIsSaidAndTheFirstStays)
{
    DebugCapture debug;
    RCPtr<LControl> top = BuildTopWith(SubControl("twin", "TabStop=\"3\"") +
                                       SubControl("twin", "TabStop=\"4\" LayoutOrder=\"1\""));
    ASSERT_TRUE(top);
    ASSERT_EQ(top->GetChildren().GetCount(), 1u);
    EXPECT_EQ(top->FindChild(u"twin")->GetLayout()->tabStop, 3);
    EXPECT_NE(debug.Text().find("\"twin\""), std::string::npos) << debug.Text();
}

TEST_F(ControlCreation, InitializeTakesToolTipAndLocalHotKeysAndListensToItsParent)
{
    ParseSkins(TopWith(SubControl("keyed", "") + SubControl("plain", "LayoutOrder=\"1\""), ""));
    // After the skins: a string document leaves the reader in its string mode.
    LoadStrings(
        "<StringTable ID=\"Test.Base|keyed\">"
        "<String ID=\"TOOLTIP\"><Locale LCID=\"0x0009\">Tip</Locale></String>"
        "<String ID=\"LHK.NID_TEST_ACTION\"><Locale LCID=\"0x0009\">Ctrl+VKEY_A</Locale>"
        "</String></StringTable>"
        "<StringTable ID=\"Test.Base|plain\">"
        "<String ID=\"LABEL\"><Locale LCID=\"0x0009\">Plain</Locale></String>"
        "</StringTable>");
    RCPtr<LControl> top = factory->CreateControlByName(u"top", nullptr);
    ASSERT_TRUE(top);
    RCPtr<LControl> keyed = top->FindChild(u"keyed");
    RCPtr<LControl> plain = top->FindChild(u"plain");
    ASSERT_TRUE(keyed && plain);
    EXPECT_EQ(Narrow(keyed->GetToolTipText()), "Tip");
    EXPECT_EQ(Narrow(keyed->GetLocalizedString(u"TOOLTIP")), "Tip");
    EXPECT_TRUE(keyed->HasLocalHotKeys(u"NID_TEST_ACTION"));
    EXPECT_EQ(Narrow(plain->GetText()), "Plain");
    EXPECT_EQ(Narrow(plain->GetLocalizedString(u"MISSING")), "");
    EXPECT_TRUE(top->IsClientRegistered(RCPtr<Orv::LNotificationClient>(keyed)));
    EXPECT_FALSE(top->IsClientRegistered(RCPtr<Orv::LNotificationClient>(plain)));
    const auto& handler = keyed->GetNotificationHandler();
    ASSERT_TRUE(handler);
    EXPECT_TRUE(handler->HasHandler(RCPtr<Orv::LNotificationDistributor>(top), u"NID_SIBLING_KEY"));
    EXPECT_TRUE(handler->HasHandler(nullptr, u"NID_SIBLING_KEY"));
    EXPECT_TRUE(keyed->GetNotificationCenter());
    // A control without a table (the top has no parent class) is no error.
    EXPECT_EQ(Narrow(top->GetToolTipText()), "");
}

constexpr const char* kLooks = R"(
  <Colorizers><Colorizer Name="c" ColorType="SolidFill" Color="FF102030"/></Colorizers>
  <Parts><Part Name="p" ColorizerName="c" Width="4" Height="4" ResizeType="Stretch"/></Parts>
  <Looks>
    <Look Name="plain"><ClientPart Name="p" OffsetLeft="0" OffsetTop="0" OffsetRight="0"
        OffsetBottom="0"/></Look>
  </Looks>
  <LookLists>
    <LookList Name="gaps" NumLooks="4"><Look Name="plain" Index="0"/>
      <Look Name="plain" Index="2"/></LookList>
  </LookLists>)";

TEST_F(ControlCreation, OneLookPerSlotWithNullForAnEmptySlotAndTheFirstSelected)
{
    RCPtr<LControl> top = BuildTop(
        std::string(kLooks) + "<Skins>" +
        Skin("Default", "", SubControl("top", "", {}, Skin("top", "LookList=\"gaps\"", ""))) +
        "</Skins>");
    ASSERT_TRUE(top);
    const auto& looks = top->GetLooks();
    ASSERT_EQ(looks.GetCount(), 4u);
    EXPECT_TRUE(looks.GetData()[0]);
    EXPECT_FALSE(looks.GetData()[1]);
    EXPECT_TRUE(looks.GetData()[2]);
    EXPECT_FALSE(looks.GetData()[3]);
    ASSERT_EQ(top->GetLookWeights().GetCount(), 4u);
    EXPECT_EQ(top->GetLookWeights().GetAt(0), 1.0f);
    EXPECT_EQ(top->SelectLook(2), 0);
    EXPECT_EQ(top->GetLookWeights().GetAt(0), 0.0f);
    EXPECT_EQ(top->GetLookWeights().GetAt(2), 1.0f);
    EXPECT_EQ(top->SetLookWeight(4, 1.0f, false), E_INVALIDARG);
    EXPECT_EQ(top->SetLookWeight(1, 1.5f, false), 0);
    EXPECT_EQ(top->GetLookWeights().GetAt(1), 0.0f) << "a weight above 1 is ignored";
    EXPECT_EQ(top->SetLookWeight(1, 0.5f, false), 0);
    EXPECT_EQ(top->GetLookWeights().GetAt(1), 0.5f);
    EXPECT_EQ(top->GetLookWeights().GetAt(2), 1.0f);
    // AddLook grows the weights with 0.
    EXPECT_EQ(top->AddLook(RCPtr<Orv::LLook>()), 4);
    EXPECT_EQ(top->GetLookWeights().GetCount(), 5u);
    EXPECT_EQ(top->GetLookWeights().GetAt(4), 0.0f);
}

struct FontCase
{
    const char* name;
    const char* topFont;  // font attributes of the SubControls
    const char* childFont;
    const char* expectedName;
    float expectedSize;
    int32_t expectedStyle;
};

class Fonts : public ControlCreation, public testing::WithParamInterface<FontCase>
{
};

TEST_P(Fonts, InheritanceAndRelativeSizes)
{
    const FontCase& row = GetParam();
    RCPtr<LControl> top = BuildTop(
        "<Skins>" +
        Skin("Default", "FontName=\"Arial\" FontSize=\"9\" FontStyle=\"0\"",
             SubControl(
                 "top", row.topFont, {},
                 Skin("top", "", SubControl("child", row.childFont, {}, Skin("child", "", ""))))) +
        "</Skins>");
    ASSERT_TRUE(top);
    RCPtr<LControl> child = top->FindChild(u"child");
    ASSERT_TRUE(child && child->GetFont());
    EXPECT_EQ(Narrow(child->GetFont()->GetName()), row.expectedName);
    EXPECT_EQ(child->GetFont()->GetSize(), row.expectedSize);
    EXPECT_EQ(child->GetFont()->GetStyle(), row.expectedStyle);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, Fonts,
    testing::Values(
        FontCase{"ApplicationDefault", "", "", "Arial", 9, 0},
        FontCase{"OwnFont", "", "FontName=\"Verdana\" FontSize=\"12\" FontStyle=\"1\"", "Verdana",
                 12, 1},
        FontCase{"InheritsFromParent", "FontName=\"Tahoma\" FontSize=\"10\" FontStyle=\"2\"",
                 "FontInheritsFromParent=\"True\"", "Tahoma", 10, 2},
        FontCase{"RelativeSize", "FontName=\"Tahoma\" FontSize=\"10\"",
                 "FontInheritsFromParent=\"True\" FontSizeIsRelative=\"True\" FontSize=\"1.5\"",
                 "Tahoma", 15, 0},
        FontCase{"NoInheritanceMeansTheApplicationsFont", "FontName=\"Tahoma\" FontSize=\"10\"",
                 "FontSizeIsRelative=\"True\" FontSize=\"2\"", "Arial", 18, 0},
        FontCase{"HugeRelativeSizeIsBounded", "FontName=\"Tahoma\" FontSize=\"100000\"",
                 "FontInheritsFromParent=\"True\" FontSizeIsRelative=\"True\" "
                 "FontSize=\"100000000000000000000000000000000000000\"",
                 "Tahoma", 1000, 0}),
    [](const testing::TestParamInfo<FontCase>& info) { return std::string(info.param.name); });

TEST_F(ControlCreation, TheApplicationsDefaultFontIsTheSkinsElseArialNine)
{
    ParseSkins("<Skins>" +
               Skin("Default", "FontName=\"Courier New\" FontSize=\"11\" FontStyle=\"2\"",
                    SubControl("top", "", {}, Skin("top", "", ""))) +
               Skin("Plain", "", SubControl("top", "", {}, Skin("top", "", ""))) + "</Skins>");
    for (const auto& [skin, name, size, style] :
         {std::tuple{0, "Courier New", 11.0f, 2}, std::tuple{1, "Arial", 9.0f, 0}}) {
        factory->currentSkinIndex = skin;
        RCPtr<LControl> top = factory->CreateControlByName(u"top", nullptr);
        ASSERT_TRUE(top && top->GetFont());
        EXPECT_EQ(Narrow(top->GetFont()->GetName()), name);
        EXPECT_EQ(top->GetFont()->GetSize(), size);
        EXPECT_EQ(top->GetFont()->GetStyle(), style);
    }
    // One set by the application wins over the skin's.
    application->SetDefaultFont(Orv::GetFont(u"Tahoma", 13.0f, 0));
    RCPtr<LControl> top = factory->CreateControlByName(u"top", nullptr);
    EXPECT_EQ(Narrow(top->GetFont()->GetName()), "Tahoma");
    application->SetDefaultFont(nullptr);
}

TEST_F(ControlCreation, ApplyingADescriptorAgainCountsAnOverlayOnce)
{
    RCPtr<LControl> top = BuildTopWith(SubControl("overlay", "ClipToParent=\"False\"") +
                                       SubControl("plain", "LayoutOrder=\"1\""));
    ASSERT_TRUE(top);
    EXPECT_EQ(top->GetNonClippingDescendantCount(), 1);
    RCPtr<LControl> overlay = top->FindChild(u"overlay");
    const RCPtr<LControlDescriptor> descriptor = overlay->GetDescriptor();
    overlay->ApplyDescriptor(descriptor);
    EXPECT_EQ(top->GetNonClippingDescendantCount(), 1);
    // Now a clipping control: the count goes.
    overlay->ApplyDescriptor(top->FindChild(u"plain")->GetDescriptor());
    EXPECT_EQ(top->GetNonClippingDescendantCount(), 0);
    EXPECT_EQ(overlay->SetParent(nullptr), 0);
    EXPECT_EQ(top->GetNonClippingDescendantCount(), 0);
}

TEST_F(ControlCreation, AFontChangeReachesTheChildrenThatInheritIt)
{
    RCPtr<LControl> top = BuildTopWith(
        SubControl("child",
                   "FontInheritsFromParent=\"True\" FontSizeIsRelative=\"True\" FontSize=\"2\"", {},
                   Skin("child", "", "")),
        "FontName=\"Tahoma\" FontSize=\"10\"");
    ASSERT_TRUE(top);
    RCPtr<LControl> child = top->FindChild(u"child");
    ASSERT_EQ(child->GetFont()->GetSize(), 20.0f);
    EXPECT_EQ(top->SetFont(u"Verdana", 7.0f, 1, false), 0);
    EXPECT_EQ(Narrow(child->GetFont()->GetName()), "Verdana");
    EXPECT_EQ(child->GetFont()->GetSize(), 14.0f);
    EXPECT_EQ(child->GetFont()->GetStyle(), 1);
    EXPECT_EQ(top->SetFont(u"Verdana", 7.0f, 1, false), 1) << "an equal font changes nothing";
    EXPECT_EQ(top->ApplyFont(Orv::ConstRCPtr<Orv::LFont>()), E_INVALIDARG);
}

TEST_F(ControlCreation, TextIsStoredAndHandedToTheLooks)
{
    RCPtr<LControl> top = BuildTop(
        std::string(kLooks) +
        R"(<Looks><Look Name="texted"><ClientPart Name="p" OffsetLeft="0" OffsetTop="0"
            OffsetRight="0" OffsetBottom="0"/><TextProperties TextLeftRel="0" TextLeftAbs="0"
            TextRightRel="1" TextRightAbs="0" TextHAlign="0" TextTopRel="0" TextTopAbs="0"
            TextBottomRel="1" TextBottomAbs="0" TextVAlign="0" TextForegroundPart="p"/></Look>
          </Looks><LookLists><LookList Name="texts" NumLooks="2">
            <Look Name="texted" Index="0"/><Look Name="texted" Index="1"/></LookList></LookLists>)"
        "<Skins>" +
        Skin("Default", "", SubControl("top", "", {}, Skin("top", "LookList=\"texts\"", ""))) +
        "</Skins>");
    ASSERT_TRUE(top);
    EXPECT_EQ(top->SetText(u"Hello"), 0);
    EXPECT_EQ(top->SetText(u"Hello"), 1);
    EXPECT_EQ(Narrow(top->GetText()), "Hello");
    for (uint32_t index = 0; index < 2; ++index) {
        const RCPtr<Orv::LLook>& look = top->GetLooks().GetData()[index];
        ASSERT_TRUE(look && look->GetTextBlock());
        // Handed over already: the same text again is no change for the look.
        EXPECT_FALSE(look->SetText(u"Hello"));
    }
}

TEST_F(ControlCreation, SmallAnswersOfTheBase)
{
    RCPtr<LControl> top = BuildTopWith(SubControl("child", ""));
    ASSERT_TRUE(top);
    RCPtr<LControl> child = top->FindChild(u"child");
    EXPECT_EQ(child->SetDragThreshold(-1), E_INVALIDARG);
    EXPECT_EQ(child->SetDragThreshold(0), 0);
    EXPECT_EQ(child->GetDragThreshold(), 0);
    EXPECT_EQ(top->CloseChildLater(top), E_INVALIDARG);
    EXPECT_EQ(child->CloseChildLater(top), E_INVALIDARG);
    EXPECT_EQ(child->GetParent().Get(), top.Get());
    EXPECT_EQ(child->SetRootWindow(nullptr), E_FAIL) << "only a top-level control has a window";
    EXPECT_FALSE(child->GetEditTarget());
    try {
        child->PerformEdit(2);
        FAIL() << "no fault";
    } catch (const std::logic_error& fault) {
        EXPECT_STREQ(fault.what(),
                     "Logic Error : LControl::PerformEdit must be overridden : "
                     "Orv::LControl::PerformEdit : ControlBase/Control : Line 580");
    }
    Orv::RectD range;
    child->GetScrollRange(range, nullptr);
    EXPECT_EQ(range, (Orv::RectD{0, 0, 4503599627370496.0, 4503599627370496.0}));
    EXPECT_EQ(child->GetContextMenuUpdater().Get(), child->GetContextMenuUpdater().Get());
    EXPECT_EQ(child->GetContextMenuUpdater()->GetControl().Get(), child.Get());
}

// A control class with a callback of its own in the base's handler table.
class CountingControl : public LControl
{
public:
    using LControl::LControl;

    int Count(const RCPtr<Orv::LNotificationDistributor>&, const RCPtr<Orv::LNotification>&)
    {
        ++calls;
        return 1;
    }

    int calls = 0;
};

TEST_F(ControlCreation, NoNotificationIsHandledBeforeCreationHasCompleted)
{
    RCPtr<CountingControl> control(new CountingControl(nullptr, u"counting"));
    control->Initialize();
    ASSERT_TRUE(control->GetNotificationHandler());
    control->GetNotificationHandler()->AddDirectHandler(
        static_cast<Orv::NotificationCallback<LControl>>(&CountingControl::Count),
        u"NID_TEST_PING");
    const RCPtr<Orv::LNotificationReceiver> receiver(control);
    EXPECT_EQ(Orv::DeliverNotification(receiver, u"NID_TEST_PING"), 0);
    EXPECT_EQ(control->calls, 0);
    control->SetCreated();
    EXPECT_EQ(Orv::DeliverNotification(receiver, u"NID_TEST_PING"), 0);
    EXPECT_EQ(control->calls, 1);
}

// The position of a virtual operation in the class's own table (Itanium C++ ABI: a pointer to a
// virtual member holds 1 plus the entry's byte offset).
template <class Member>
int64_t SlotOf(Member member)
{
    struct Representation
    {
        uintptr_t pointer;
        ptrdiff_t adjustment;
    };
    static_assert(sizeof(Member) == sizeof(Representation));
    Representation representation;
    std::memcpy(&representation, &member, sizeof(representation));
    EXPECT_EQ(representation.pointer & 1, 1u) << "not virtual";
    return static_cast<int64_t>((representation.pointer - 1) / sizeof(void*));
}

TEST(ControlSlots, TheNinetyFourOperationsKeepTheirOrder)
{
    using C = LControl;
    const int64_t slots[] = {
        SlotOf(&C::SetText),
        SlotOf(&C::SetValue),
        SlotOf(&C::OnValueChanged),
        SlotOf(&C::SetValueRange),
        SlotOf(&C::CalcClientRect),
        SlotOf(&C::OnClientRectChanged),
        SlotOf(&C::OnScrollOffsetChanged),
        SlotOf(&C::OnChildRectChanged),
        SlotOf(&C::CalcNaturalSize),
        SlotOf(&C::GetMaxSize),
        SlotOf(&C::SetClipToParent),
        SlotOf(&C::SetScrollOffset),
        SlotOf(&C::GetStringTable),
        SlotOf(&C::SupportsEditCommands),
        SlotOf(&C::GetEditTarget),
        SlotOf(&C::CanPerformEdit),
        SlotOf(&C::PerformEdit),
        SlotOf(&C::SetDragMode),
        SlotOf(&C::BeginDragGeometry),
        SlotOf(&C::RebaseDrag),
        SlotOf(&C::DragTo),
        SlotOf(&C::OnDragMoved),
        SlotOf(&C::EndDrag),
        SlotOf(&C::FindDropTarget),
        SlotOf(&C::AcceptsDrop),
        SlotOf(&C::GetDropAutoScrollEdges),
        SlotOf(&C::GetScrollRange),
        SlotOf(&C::GetClientBounds),
        SlotOf(&C::GetDragRange),
        SlotOf(&C::OnDragEnter),
        SlotOf(&C::OnDragOver),
        SlotOf(&C::OnDragLeave),
        SlotOf(&C::OnDrop),
        SlotOf(&C::SetFocus),
        SlotOf(&C::SetNotFocusable),
        SlotOf(&C::CanTakeFocus),
        SlotOf(&C::OnConditionsChanged),
        SlotOf(&C::Close),
        SlotOf(&C::AttachIdleHandler),
        SlotOf(&C::OnWindowAvailable),
        SlotOf(&C::SetVisible),
        SlotOf(&C::IsTransparentAt),
        SlotOf(&C::GetLookColorAt),
        SlotOf(&C::QueryCommandState),
        SlotOf(&C::GetContextMenu),
        SlotOf(&C::OnContextMenuOpening),
        SlotOf(&C::SelectLook),
        SlotOf(&C::AddLook),
        SlotOf(&C::ApplicationHook),
        SlotOf(&C::SetEnabled),
        SlotOf(&C::ApplyDescriptor),
        SlotOf(&C::Draw),
        SlotOf(&C::Invalidate),
        SlotOf(&C::InvalidateRect),
        SlotOf(&C::HitTest),
        SlotOf(&C::OnFontChanged),
        SlotOf(&C::RequestFocusOnClick),
        SlotOf(&C::OnLeftButtonDown),
        SlotOf(&C::OnLeftButtonUp),
        SlotOf(&C::OnMiddleButtonDown),
        SlotOf(&C::OnMiddleButtonUp),
        SlotOf(&C::OnRightButtonDown),
        SlotOf(&C::OnRightButtonUp),
        SlotOf(&C::OnMouseMoveHook),
        SlotOf(&C::OnWheel),
        SlotOf(&C::OnHWheel),
        SlotOf(&C::OnClick),
        SlotOf(&C::OnLeftClick),
        SlotOf(&C::OnMiddleClick),
        SlotOf(&C::OnRightClick),
        SlotOf(&C::OnLeftClickHook),
        SlotOf(&C::OnMiddleClickHook),
        SlotOf(&C::OnRightClickHook),
        SlotOf(&C::ContainsPoint),
        SlotOf(&C::FindNextFocusable),
        SlotOf(&C::OnKeyHook),
        SlotOf(&C::HandleHotKeys),
        SlotOf(&C::RouteUnhandledKey),
        SlotOf(&C::MoveFocus),
        SlotOf(&C::FindHotKeyTarget),
        SlotOf(&C::RefreshInheritedFont),
        SlotOf(&C::OnParentScrolled),
        SlotOf(&C::OnParentRectChanged),
        SlotOf(&C::OnTick),
        SlotOf(&C::DrawContentHook),
        SlotOf(&C::DrawOverlayHook),
        SlotOf(&C::CreateChildren),
        SlotOf(&C::Initialize),
        SlotOf(&C::ReadCreateParams),
        SlotOf(&C::AttachChild),
        SlotOf(&C::OnCreated),
        SlotOf(&C::GetToolTipText),
        SlotOf(&C::ShowToolTip),
        SlotOf(&C::GetVisibleClientRect),
    };
    ASSERT_EQ(std::size(slots), 94u);
    for (size_t slot = 0; slot < std::size(slots); ++slot) {
        EXPECT_EQ(slots[slot] - slots[0], static_cast<int64_t>(slot)) << "slot " << slot;
    }
}

}  // namespace
