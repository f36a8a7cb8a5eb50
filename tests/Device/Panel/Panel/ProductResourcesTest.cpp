// The program's skins, string tables and images as the program loads them: every control the
// panels look up exists with its class in both skins, every look list a skin names exists, every
// part's image loads and holds the part's rectangle, and the texts the panels read are there.

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "ControlBase/ControlFactory.h"
#include "Utilities/Graphics/Bitmap.h"
#include "gdiplus.h"

namespace {

using Orv::LControlDescriptor;
using Orv::LControlFactory;
using Orv::RCPtr;
using Orv::WideString;

std::string Narrow(const WideString& text)
{
    return text.ToNarrow().GetText();
}

// The descriptor at a path of names below the root ("mainControl/viewDevice/buttonSupport").
const LControlDescriptor* Find(const LControlDescriptor* root, const std::string& path)
{
    const LControlDescriptor* at = root;
    size_t start = 0;
    while (at != nullptr && start <= path.size()) {
        const size_t end = path.find('/', start);
        const std::string name = path.substr(start, end - start);
        const LControlDescriptor* next = nullptr;
        for (uint32_t index = 0; index < at->subControls.GetCount(); ++index) {
            if (Narrow(at->subControls.GetData()[index]->name) == name) {
                next = at->subControls.GetData()[index].Get();
            }
        }
        at = next;
        if (end == std::string::npos) {
            break;
        }
        start = end + 1;
    }
    return at;
}

class ProductResources : public testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        factory = new LControlFactory(u"Quorvel");
        factory->AddRef();
        loaded = factory->LoadSkinsAndStrings(u"::", 0x0409);
    }
    static void TearDownTestSuite()
    {
        factory->Release();
        factory = nullptr;
    }

    static LControlFactory* factory;
    static Orv::ORVRESULT loaded;
};

LControlFactory* ProductResources::factory = nullptr;
Orv::ORVRESULT ProductResources::loaded = E_FAIL;

struct Expected
{
    const char* path;
    const char* className;
};

const std::string kView = "mainControl/viewDevice/";
const std::string kProperties = kView + "panelDriverStandardProperties/";
const std::string kBuffer = kProperties + "panelBufferSize/";
const std::string kRate = kProperties + "panelSampleRate/";

std::vector<Expected> ExpectedControls()
{
    std::vector<std::pair<std::string, std::string>> rows = {
        {"mainControl", "ControlPanel.MainControl"},
        {"contextMenu", "Framework.PopupMenu"},
        {"contextMenu/templateItem", "Framework.MenuItem"},
        {"toolTip", "Framework.ToolTip"},
        {"mainControl/viewDevice", "ControlPanel.View.Device"},
        {kView + "labelProductName", "Framework.Label"},
        {kView + "labelAttachedState", "Framework.Label"},
        {kView + "labelStreamingStatus", "Framework.Label"},
        {kView + "labelVersionNumber", "Framework.Label"},
        {kView + "buttonSupport", "Framework.Button"},
        {kView + "panelDriverStandardProperties", "ControlPanel.Panel.DriverStandardProperties"},
        {kProperties + "comboBoxClockSource", "Framework.ComboBox"},
        {kProperties + "panelBufferSize", "ControlPanel.Panel.BufferSize"},
        {kProperties + "panelSampleRate", "ControlPanel.Panel.SampleRate"},
        {kBuffer + "comboBoxBuffer", "Framework.ComboBox"},
        {kBuffer + "labelValue", "Framework.Label"},
        {kBuffer + "labelBufferSize", "Framework.Label"},
        {kBuffer + "labelBufferSizePow2", "Framework.Label"},
        {kBuffer + "buttonInc", "Framework.Button"},
        {kBuffer + "buttonDec", "Framework.Button"},
        {kBuffer + "slider", "Framework.Slider"},
        {kBuffer + "slider/thumbStart", "Framework.Button"},
        {kBuffer + "slider/thumbEnd", "Framework.Button"},
        {kRate + "comboBoxSampleRate", "Framework.ComboBox"},
        {kRate + "labelSampleRate", "Framework.Label"},
    };
    for (const char* label :
         {"labelBufferInfo", "labelClockExternalAbsent", "labelClockRateMismatch",
          "labelInputLatencyLabel", "labelInputLatency", "labelOutputLatencyLabel",
          "labelOutputLatency", "labelRoundTripLatencyLabel", "labelRoundTripLatency"}) {
        rows.emplace_back(kProperties + label, "Framework.Label");
    }
    for (const std::string& combo : {kProperties + "comboBoxClockSource",
                                     kBuffer + "comboBoxBuffer", kRate + "comboBoxSampleRate"}) {
        rows.emplace_back(combo + "/listBox", "Framework.ListBox");
        rows.emplace_back(combo + "/listBox/templateItem", "Framework.ListBoxItem");
        rows.emplace_back(combo + "/listBox/vBar", "Framework.ScrollBar");
        rows.emplace_back(combo + "/listBox/vBar/channel", "Framework.ScrollChannel");
        rows.emplace_back(combo + "/listBox/vBar/channel/thumb", "Framework.Button");
        rows.emplace_back(combo + "/listBox/vBar/dec", "Framework.Button");
        rows.emplace_back(combo + "/listBox/vBar/inc", "Framework.Button");
    }
    static std::vector<std::pair<std::string, std::string>> kept;
    kept = rows;
    std::vector<Expected> expected;
    for (const auto& [path, className] : kept) {
        expected.push_back({path.c_str(), className.c_str()});
    }
    return expected;
}

TEST_F(ProductResources, LoadInEnglishWithTwoSkins)
{
    ASSERT_EQ(loaded, S_OK) << Narrow(factory->GetLastErrorText()) << " line "
                            << factory->GetLastErrorLine();
    EXPECT_EQ(factory->GetApplicationName(), u"Quorvel");
    EXPECT_EQ(factory->GetCurrentLanguage(), 9u);
    ASSERT_EQ(factory->GetSkins().GetCount(), 2u);
    EXPECT_EQ(factory->currentSkinIndex, 0);
}

TEST_F(ProductResources, EverySkinHasEveryControlWithItsClass)
{
    for (uint32_t skin = 0; skin < factory->GetSkins().GetCount(); ++skin) {
        const LControlDescriptor* root = factory->GetSkins().GetData()[skin].Get();
        EXPECT_EQ(root->className, u"Application");
        for (const Expected& row : ExpectedControls()) {
            const LControlDescriptor* control = Find(root, row.path);
            ASSERT_NE(control, nullptr) << "skin " << skin << ": " << row.path;
            EXPECT_EQ(Narrow(control->className), row.className) << row.path;
            // Every SubControl is followed by one Skin naming its look list.
            ASSERT_TRUE(control->skin) << row.path;
            EXPECT_TRUE(control->skin->lookList) << "skin " << skin << ": " << row.path;
        }
    }
}

TEST_F(ProductResources, PlacementTheControlsRelyOn)
{
    const LControlDescriptor* root = factory->GetSkins().GetData()[0].Get();
    const LControlDescriptor* menu = Find(root, "contextMenu");
    EXPECT_TRUE(menu->layout->isVisible);  // top level: the factory decides
    EXPECT_EQ(menu->layout->xMaxSize.abs, 0);
    EXPECT_EQ(menu->skin->lookList, factory->FindLookList(u"ContextMenu.Pellin"));
    const LControlDescriptor* tip = Find(root, "toolTip");
    EXPECT_FALSE(tip->layout->clipToParent);
    EXPECT_GT(tip->layout->zOrder, 100);

    const LControlDescriptor* slider = Find(root, kBuffer + "slider");
    EXPECT_EQ(slider->layout->xSize.abs, 100);
    EXPECT_EQ(slider->layout->ySize.abs, 12);
    EXPECT_EQ(slider->skin->lookList, factory->FindLookList(u"Slider.Kavro.Track.Normal"));
    EXPECT_EQ(Find(root, kBuffer + "slider/thumbStart")->layout->xSize.abs, 12);
    EXPECT_EQ(Find(root, kBuffer + "slider/thumbEnd")->skin->lookList,
              factory->FindLookList(u"Slider.Kavro.Thumb.Normal"));

    struct Combo
    {
        std::string path;
        const char16_t* lookList;
        double listHeight;
    };
    const Combo combos[] = {{kProperties + "comboBoxClockSource", u"Transparent.ComboBox", 64},
                            {kBuffer + "comboBoxBuffer", u"ComboBox.Pellin", 80},
                            {kRate + "comboBoxSampleRate", u"ComboBox.Pellin", 80}};
    for (const Combo& combo : combos) {
        const LControlDescriptor* box = Find(root, combo.path);
        EXPECT_EQ(box->skin->lookList, factory->FindLookList(combo.lookList)) << combo.path;
        EXPECT_EQ(box->skin->lookList->GetCount(), 7u);
        const LControlDescriptor* list = Find(box, "listBox");
        EXPECT_FALSE(list->layout->isVisible);
        EXPECT_FLOAT_EQ(list->layout->yPosition.rel, 1.0f);
        EXPECT_EQ(list->layout->ySize.abs, combo.listHeight);
        EXPECT_EQ(list->layout->yMinSize.abs, 0);
        EXPECT_EQ(list->layout->yMaxSize.abs, 0);
    }
    // The high-DPI skin uses the large combo look list and 5/3 of the sizes.
    const LControlDescriptor* large = factory->GetSkins().GetData()[1].Get();
    EXPECT_EQ(Find(large, kBuffer + "comboBoxBuffer")->skin->lookList,
              factory->FindLookList(u"ComboBox.Pellin.Large"));
    EXPECT_EQ(Find(large, kBuffer + "slider")->layout->xSize.abs, 167);

    // Hidden at start: what the panels show only in some modes.
    for (const char* hidden : {"labelValue", "buttonInc", "buttonDec", "slider"}) {
        EXPECT_FALSE(Find(root, kBuffer + hidden)->layout->isVisible) << hidden;
    }
    EXPECT_FALSE(Find(root, kProperties + "labelRoundTripLatency")->layout->isVisible);
    EXPECT_TRUE(Find(root, kBuffer + "comboBoxBuffer")->layout->isVisible);

    // A control placed against a sibling comes after it.
    const LControlDescriptor* caption = Find(root, kProperties + "labelInputLatencyLabel");
    const LControlDescriptor* value = Find(root, kProperties + "labelInputLatency");
    EXPECT_EQ(value->layout->xPosition.toControlName, u"labelInputLatencyLabel");
    EXPECT_LT(caption->layout->layoutOrder, value->layout->layoutOrder);
}

TEST_F(ProductResources, EveryLookListSlotIsFilledAndEveryPartImageLoads)
{
    for (const auto& [name, list] : factory->GetLookLists()) {
        for (uint32_t slot = 0; slot < list->GetCount(); ++slot) {
            EXPECT_TRUE(list->GetData()[slot]) << Narrow(name) << " slot " << slot;
        }
    }
    ULONG_PTR token = 0;
    Gdiplus::GdiplusStartupInput input;
    ASSERT_EQ(Gdiplus::GdiplusStartup(&token, &input, nullptr), Gdiplus::Ok);
    std::set<std::string> images;
    for (const auto& [name, part] : factory->GetParts()) {
        if (part->image.file.IsEmpty()) {
            EXPECT_TRUE(part->colorizer) << Narrow(name);
            continue;
        }
        RCPtr<Orv::LBitmap> bitmap = Orv::GetBitmap(part->image.file);
        ASSERT_TRUE(bitmap) << Narrow(name) << ": " << Narrow(part->image.file);
        images.insert(Narrow(part->image.file));
        EXPECT_GE(part->image.x, 0);
        EXPECT_LE(part->image.x + part->image.width, bitmap->GetWidth()) << Narrow(name);
        EXPECT_LE(part->image.y + part->image.height, bitmap->GetHeight()) << Narrow(name);
    }
    Gdiplus::GdiplusShutdown(token);
    EXPECT_EQ(images.size(), 12u);
}

TEST_F(ProductResources, SkinFonts)
{
    WideString name = u"unset";
    float size = -1;
    int32_t style = -2;
    factory->currentSkinIndex = 0;
    EXPECT_FALSE(factory->GetSkinFont(name, size, style));
    EXPECT_EQ(name, u"Arial");
    EXPECT_EQ(size, 9.0f);
    EXPECT_EQ(style, 0);
    factory->currentSkinIndex = 1;
    name = u"unset";
    EXPECT_TRUE(factory->GetSkinFont(name, size, style));
    EXPECT_EQ(name, u"unset");
    factory->currentSkinIndex = 0;
}

std::string Text(const RCPtr<Orv::LStringTable>& table, const char16_t* id)
{
    WideString text = u"<none>";
    if (!table) {
        return "<no table>";
    }
    table->GetString(id, text);
    return Narrow(text);
}

TEST_F(ProductResources, TheTextsThePanelsRead)
{
    RCPtr<Orv::LStringTable> application = factory->GetApplicationStringTable();
    EXPECT_EQ(Text(application, u"ATTACHED_STATE_ATTACHED"), "Hardware Connected");
    EXPECT_EQ(Text(application, u"STREAMING_STATUS_NOT_STREAMING"), "Not Streaming");
    EXPECT_EQ(Text(application, u"CLOCK_SOURCE_SPDIF"), "S/PDIF Coax");
    EXPECT_NE(Text(application, u"URL_SUPPORT").rfind("https://", 0), std::string::npos);
    EXPECT_EQ(
        Text(factory->GetControlStringTable(u"ControlPanel.View.Device", u"labelVersionNumber"),
             u"LABEL"),
        "N/A");
    // Ids the panels read from their own tables.
    EXPECT_NE(
        Text(factory->GetControlStringTable(u"", u"mainControl"), u"HARDWARE_CONFIG_ERROR_MESSAGE"),
        "<none>");
    EXPECT_EQ(Text(factory->GetControlStringTable(u"ControlPanel.View.Device",
                                                  u"panelDriverStandardProperties"),
                   u"CLOCK_SOURCE_WORDCLOCK"),
              "Word Clock");
    EXPECT_NE(Text(factory->GetControlStringTable(u"ControlPanel.Panel.DriverStandardProperties",
                                                  u"panelSampleRate"),
                   u"SAMPLE_RATE_NOT_SUPPORTED_MESSAGE_SEGMENT_1"),
              "<none>");
    RCPtr<Orv::LStringTable> framework = factory->GetFrameworkStringTable();
    for (const char16_t* id :
         {u"EDIT_CUT", u"EDIT_COPY", u"EDIT_PASTE", u"EDIT_DELETE", u"STARTUP_ERROR",
          u"STARTUP_ERROR_CAPTION", u"EXCEPTION_ID", u"GL_ERROR_CAPTION", u"GL_ERROR_UPDATE_DRIVER",
          u"GL_ERROR_MESSAGE_CHOOSE_PIXEL_FORMAT", u"GL_ERROR_MESSAGE_SET_PIXEL_FORMAT",
          u"GL_ERROR_MESSAGE_CREATE_CONTEXT", u"GL_ERROR_MESSAGE_GET_PROC_ADDRESS",
          u"GL_ERROR_MESSAGE_MAKE_CONTEXT_CURRENT", u"MINUTES_PLURAL"}) {
        EXPECT_NE(Text(framework, id), "<none>") << Narrow(id);
    }
    EXPECT_EQ(Text(framework, u"OPENGL_IS_NOT_AN_ID"), "<none>");
    EXPECT_EQ(Text(framework, u"EXCEPTION_ID"),
              "The application encountered problems during startup and will now close.  (Error "
              "code = %d)");
}

TEST(ProductResourcesGerman, SettleOnEnglishAndTheGermanTimeUnitsAreNotUsed)
{
    LControlFactory factory(u"Quorvel");
    ASSERT_EQ(factory.LoadSkinsAndStrings(u"::", 0x0407), S_OK);
    EXPECT_EQ(factory.GetCurrentLanguage(), 9u);
    EXPECT_EQ(Text(factory.GetFrameworkStringTable(), u"MINUTES_PLURAL"), "Minutes");
}

}  // namespace
