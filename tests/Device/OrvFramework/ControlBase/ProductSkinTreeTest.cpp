// The program's own skins built into trees of base controls: every class of the skin document
// creates a plain LControl through the creation sequence, and the tree must be the document's
// (names, nesting, children in ascending LayoutOrder, one look per look-list slot), with the
// labels of the control string tables and the skin's font. The document is read here on its own,
// with expat, so that the tree is not compared with what the skin reader made of it.

#include <expat.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "ControlBase/DocumentBytes.h"
#include "ControlBase/LayoutEngine.h"
#include "ControlBase/RectRegion.h"
#include "ControlBase/RootWindow.h"
#include "ControlTestSupport.h"
#include "Renderer/Gdi/GDIRenderContextInfo.h"
#include "Renderer/Gdi/GDIRenderer.h"
#include "RootWindowSupport.h"
#include "Utilities/Graphics/Font.h"
#include "Win32Test/HeadlessWindow.h"
#include "cairo.h"

namespace {

using ControlTest::ControlFixture;
using ControlTest::ExpectNothingAlive;
using ControlTest::Narrow;
using Orv::LControl;
using Orv::RCPtr;
using ChildList = LControl::ChildControlList;

// One SubControl as the document writes it.
struct DocumentControl
{
    std::string name;
    std::string className;
    int layoutOrder = 0;
    std::string lookList;  // of its nested Skin; empty when it names none
    std::vector<DocumentControl> children;
};

struct SkinDocument
{
    std::vector<std::vector<DocumentControl>> skins;  // the top-level SubControls of each Skin
    std::map<std::string, int> lookListSlots;         // NumLooks by LookList name
    std::set<std::string> classNames;
};

class DocumentReader
{
public:
    explicit DocumentReader(SkinDocument& document) : document(document) {}

    static void OnStart(void* user, const char* element, const char** attributes)
    {
        static_cast<DocumentReader*>(user)->Start(element, attributes);
    }
    static void OnEnd(void* user, const char* element)
    {
        static_cast<DocumentReader*>(user)->End(element);
    }

private:
    static std::string Attribute(const char** attributes, const char* name)
    {
        for (int index = 0; attributes[index] != nullptr; index += 2) {
            if (std::strcmp(attributes[index], name) == 0) {
                return attributes[index + 1];
            }
        }
        return std::string();
    }

    void Start(const std::string& element, const char** attributes)
    {
        if (element == "Skin") {
            if (open.empty()) {
                document.skins.emplace_back();
            } else {
                open.back().lookList = Attribute(attributes, "LookList");
            }
        } else if (element == "SubControl") {
            DocumentControl control;
            control.name = Attribute(attributes, "Name");
            control.className = Attribute(attributes, "Class");
            control.layoutOrder = std::stoi("0" + Attribute(attributes, "LayoutOrder"));
            document.classNames.insert(control.className);
            open.push_back(control);
        } else if (element == "LookList") {
            document.lookListSlots[Attribute(attributes, "Name")] =
                std::stoi(Attribute(attributes, "NumLooks"));
        }
    }

    void End(const std::string& element)
    {
        if (element != "SubControl") {
            return;
        }
        DocumentControl closed = std::move(open.back());
        open.pop_back();
        if (open.empty()) {
            document.skins.back().push_back(std::move(closed));
        } else {
            open.back().children.push_back(std::move(closed));
        }
    }

    SkinDocument& document;
    std::vector<DocumentControl> open;
};

SkinDocument ReadProductSkins()
{
    std::vector<uint8_t> bytes;
    EXPECT_EQ(Orv::ReadDocumentBytes(u"::APP_SKINS", bytes), Orv::DocumentRead::Done);
    SkinDocument document;
    DocumentReader reader(document);
    std::unique_ptr<XML_ParserStruct, decltype(&XML_ParserFree)> parser(XML_ParserCreate(nullptr),
                                                                        &XML_ParserFree);
    XML_SetUserData(parser.get(), &reader);
    XML_SetElementHandler(parser.get(), &DocumentReader::OnStart, &DocumentReader::OnEnd);
    EXPECT_EQ(XML_Parse(parser.get(), reinterpret_cast<const char*>(bytes.data()),
                        static_cast<int>(bytes.size()), XML_TRUE),
              XML_STATUS_OK);
    return document;
}

const DocumentControl* FindTopLevel(const SkinDocument& document, size_t skin,
                                    const std::string& name)
{
    const DocumentControl* found = nullptr;
    for (const DocumentControl& control : document.skins.at(skin)) {
        if (control.name == name) {
            found = &control;  // the last of equal names, as the factory looks them up
        }
    }
    return found;
}

// The control against the document: name, looks, and children as a set of names in ascending
// LayoutOrder. Counts the controls compared.
void ExpectSameTree(const SkinDocument& document, const LControl& control,
                    const DocumentControl& expected, const std::string& path, int& compared)
{
    ++compared;
    EXPECT_EQ(Narrow(control.GetName()), expected.name) << path;
    const auto slots = document.lookListSlots.find(expected.lookList);
    const uint32_t lookCount =
        slots == document.lookListSlots.end() ? 0u : static_cast<uint32_t>(slots->second);
    EXPECT_EQ(control.GetLooks().GetCount(), lookCount) << path;
    EXPECT_EQ(control.GetLookWeights().GetCount(), lookCount) << path;
    for (uint32_t slot = 0; slot < control.GetLooks().GetCount(); ++slot) {
        EXPECT_TRUE(control.GetLooks().GetData()[slot]) << path << " look " << slot;
        EXPECT_EQ(control.GetLookWeights().GetAt(slot), slot == 0 ? 1.0f : 0.0f) << path;
    }

    const ChildList& children = control.GetChildren();
    ASSERT_EQ(children.GetCount(), expected.children.size()) << path;
    std::multiset<std::string> expectedNames;
    for (const DocumentControl& child : expected.children) {
        expectedNames.insert(child.name);
    }
    std::multiset<std::string> builtNames;
    int previousOrder = INT32_MIN;
    for (uint32_t index = 0; index < children.GetCount(); ++index) {
        const LControl& child = *children.GetAt(index, ChildList::kInsertionOrder);
        builtNames.insert(Narrow(child.GetName()));
        EXPECT_EQ(child.GetParent().Get(), &control) << path;
        const DocumentControl* match = nullptr;
        for (const DocumentControl& candidate : expected.children) {
            if (candidate.name == Narrow(child.GetName())) {
                match = &candidate;
            }
        }
        ASSERT_NE(match, nullptr) << path << "/" << Narrow(child.GetName());
        EXPECT_GE(match->layoutOrder, previousOrder) << path << ": children out of LayoutOrder";
        previousOrder = match->layoutOrder;
        ExpectSameTree(document, child, *match, path + "/" + match->name, compared);
    }
    EXPECT_EQ(builtNames, expectedNames) << path;
}

const LControl* FindByPath(const LControl& root, const std::vector<const char16_t*>& path)
{
    const LControl* at = &root;
    for (const char16_t* name : path) {
        RCPtr<LControl> child = at->FindChild(name);
        if (!child) {
            return nullptr;
        }
        at = child.Get();
    }
    return at;
}

void ExpectEveryFont(const LControl& control, const char* name, float size)
{
    ASSERT_TRUE(control.GetFont()) << Narrow(control.GetName());
    EXPECT_EQ(Narrow(control.GetFont()->GetName()), name) << Narrow(control.GetName());
    EXPECT_EQ(control.GetFont()->GetSize(), size) << Narrow(control.GetName());
    for (uint32_t index = 0; index < control.GetChildren().GetCount(); ++index) {
        ExpectEveryFont(*control.GetChildren().GetAt(index, ChildList::kInsertionOrder), name,
                        size);
    }
}

class ProductSkinTree : public ControlFixture
{
protected:
    void SetUp() override
    {
        ControlFixture::SetUp();
        ASSERT_EQ(factory->LoadSkinsAndStrings(u"::", 0x0409), 0);
        document = ReadProductSkins();
        ASSERT_EQ(document.skins.size(), 2u);
        for (const std::string& className : document.classNames) {
            RegisterBase(Orv::WideString(className.c_str()).GetText());
        }
    }

    RCPtr<LControl> Build(int32_t skin)
    {
        factory->currentSkinIndex = skin;
        return factory->CreateControlByName(u"mainControl", nullptr);
    }

    SkinDocument document;
};

TEST_F(ProductSkinTree, BothSkinsBuildTheDocumentsTree)
{
    for (int32_t skin = 0; skin < 2; ++skin) {
        SCOPED_TRACE("skin " + std::to_string(skin));
        RCPtr<LControl> root = Build(skin);
        ASSERT_TRUE(root);
        const DocumentControl* expected =
            FindTopLevel(document, static_cast<size_t>(skin), "mainControl");
        ASSERT_NE(expected, nullptr);
        int compared = 0;
        ExpectSameTree(document, *root, *expected, "mainControl", compared);
        EXPECT_GT(compared, 20);
        EXPECT_EQ(LControl::GetLiveCount(), compared);
        EXPECT_TRUE(root->IsCreated());
        EXPECT_FALSE(root->GetParent());
        root = nullptr;
        ExpectNothingAlive();
    }
}

TEST_F(ProductSkinTree, LabelsComeFromTheControlsStringTablesAndFontsFromTheSkin)
{
    RCPtr<LControl> root = Build(0);
    ASSERT_TRUE(root);
    const LControl* version = FindByPath(*root, {u"viewDevice", u"labelVersionNumber"});
    const LControl* attached = FindByPath(*root, {u"viewDevice", u"labelAttachedState"});
    ASSERT_NE(version, nullptr);
    ASSERT_NE(attached, nullptr);
    EXPECT_EQ(Narrow(version->GetText()), "N/A");
    EXPECT_EQ(Narrow(attached->GetText()), "Hardware Not Connected");
    // The label reaches the looks that show text.
    const RCPtr<Orv::LLook>& look = version->GetLooks().GetData()[0];
    ASSERT_TRUE(look && look->GetTextBlock());
    ExpectEveryFont(*root, "Arial", 9.0f);
}

TEST_F(ProductSkinTree, ReleasingTheRootLeavesNothingAfterASecondBuildAndAfterAChildLeaves)
{
    for (int round = 0; round < 2; ++round) {
        RCPtr<LControl> root = Build(0);
        ASSERT_TRUE(root);
        EXPECT_GT(Orv::LLook::GetLiveCount(), 0);
        EXPECT_GT(Orv::LVisualPart::GetLiveCount(), 0);
        EXPECT_GT(Orv::GetBitmapCacheCount(), 0);
        root = nullptr;
        ExpectNothingAlive();
    }

    RCPtr<LControl> root = Build(1);
    RCPtr<LControl> view = root->FindChild(u"viewDevice");
    ASSERT_TRUE(view);
    EXPECT_EQ(view->SetParent(RCPtr<LControl>()), 0);
    EXPECT_FALSE(root->FindChild(u"viewDevice"));
    root = nullptr;
    EXPECT_GT(LControl::GetLiveCount(), 0) << "the view is still held";
    view = nullptr;
    ExpectNothingAlive();
}

// --- The tree laid out and painted into a window

constexpr int kWindowWidth = 1024;
constexpr int kWindowHeight = 768;

// Where a control's local origin lies in the window (the top-level control at the window's
// corner).
Orv::PointD WindowOrigin(const LControl& control)
{
    Orv::PointD origin{control.GetRect().x, control.GetRect().y};
    for (const LControl* at = &control; at->GetParent(); at = at->GetParent().Get()) {
        const LControl& parent = *at->GetParent();
        const Orv::RectD client = parent.GetClientRect(-1);
        origin.x += parent.GetRect().x + client.x - parent.GetScrollOffset().x;
        origin.y += parent.GetRect().y + client.y - parent.GetScrollOffset().y;
    }
    return origin;
}

Orv::RectD WindowBox(const LControl& control)
{
    const Orv::PointD origin = WindowOrigin(control);
    return {origin.x, origin.y, control.GetRect().width, control.GetRect().height};
}

bool Contains(const Orv::RectD& box, double x, double y)
{
    return x >= box.x && y >= box.y && x < box.Right() && y < box.Bottom();
}

bool Near(uint32_t a, uint32_t b, int tolerance)
{
    for (int shift = 0; shift < 32; shift += 8) {
        const int difference =
            static_cast<int>((a >> shift) & 0xFF) - static_cast<int>((b >> shift) & 0xFF);
        if (std::abs(difference) > tolerance) {
            return false;
        }
    }
    return true;
}

// The text box of the control's current look in window coordinates; empty without text.
Orv::RectD TextBox(const LControl& control)
{
    const RCPtr<Orv::LLook> look = control.GetLook(-1);
    if (!look || !look->GetTextBlock() || control.GetText().IsEmpty()) {
        return {};
    }
    const Orv::PointD origin = WindowOrigin(control);
    const Orv::PointT<Orv::LongCoord> position = look->GetTextPosition();
    return {origin.x + position.x, origin.y + position.y,
            static_cast<double>(look->GetTextBlock()->GetBoxWidth()),
            static_cast<double>(look->GetTextBlock()->GetBoxHeight())};
}

// The visible controls in the order they paint, each with the window area it may paint in.
struct Painted
{
    const LControl* control;
    Orv::RectD area;
};

void CollectPainted(const LControl& control, const Orv::RectD& clip, std::vector<Painted>& tree,
                    std::vector<const LControl*>& overlays)
{
    if (!control.IsVisible(false)) {
        return;
    }
    Orv::RectD area;
    if (!Orv::RectD::Intersect(area, WindowBox(control), clip)) {
        area = {};
    }
    tree.push_back({&control, area});
    const Orv::RectD client = control.GetClientRect(-1);
    const Orv::PointD origin = WindowOrigin(control);
    Orv::RectD clientArea{origin.x + client.x, origin.y + client.y, client.width, client.height};
    Orv::RectD::Intersect(clientArea, clientArea, area);
    const ChildList& children = control.GetChildren();
    for (uint32_t index = 0; index < children.GetCount(); ++index) {
        const LControl& child = *children.GetAt(index, ChildList::kPaintOrder);
        if (!child.GetLayout() || child.GetLayout()->clipToParent) {
            const bool docked =
                child.GetLayout() && child.GetLayout()->xIsDocked && child.GetLayout()->yIsDocked;
            CollectPainted(child, docked ? area : clientArea, tree, overlays);
        } else if (child.IsVisible(false)) {
            overlays.push_back(&child);
        }
    }
}

// The renderer keeps the bitmaps it drew cached until it goes; the fixture checks them then.
void ExpectNoControlAlive()
{
    EXPECT_EQ(LControl::GetLiveCount(), 0);
    EXPECT_EQ(Orv::LLook::GetLiveCount(), 0);
    EXPECT_EQ(Orv::LVisualPart::GetLiveCount(), 0);
}

class ProductSkinPaint : public ProductSkinTree
{
protected:
    void SetUp() override
    {
        ProductSkinTree::SetUp();
        OpenSurface();
    }

    void TearDown() override
    {
        CloseSurface();
        ProductSkinTree::TearDown();
    }

    // A black window with a renderer and context of its own: nothing an earlier paint left in
    // the renderer's kept surface can show through.
    void OpenSurface()
    {
        window = Win32Test::CreateHeadlessWindow(kWindowWidth, kWindowHeight);
        renderer = RCPtr<Orv::LGDIRenderer>(new Orv::LGDIRenderer());
        RCPtr<Orv::LRenderContextInfo> created;
        ASSERT_EQ(renderer->InitRenderContextInfo({0, 0, kWindowWidth, kWindowHeight}, window, 0,
                                                  created),
                  S_OK);
        context = created;
    }

    void CloseSurface()
    {
        context = nullptr;
        renderer = nullptr;
        Win32Test::DestroyHeadlessWindow(window);
        window = nullptr;
    }

    void ReopenSurface()
    {
        CloseSurface();
        OpenSurface();
    }

    // As the root window lays out its root control for a client size.
    static void LayOut(LControl& root, double width, double height)
    {
        Orv::RectD resolved;
        ASSERT_EQ(
            Orv::ResolveLayout(root.GetLayout().Get(), nullptr, Orv::RectD{0, 0, width, height},
                               Orv::PointD{width, height}, Orv::PointD{0, 0}, resolved),
            S_OK);
        Orv::PointD position{resolved.x, resolved.y};
        Orv::PointD size{resolved.width, resolved.height};
        Orv::ApplyLayoutMinSize(root, position, size);
        Orv::ApplyLayoutMaxSize(root, position, size);
        Orv::RectD snapped{position.x, position.y, size.x, size.y};
        snapped.SnapToPixels();
        root.SetRect({snapped.x, snapped.y}, {snapped.width, snapped.height});
    }

    // One paint pass: the tree through the dirty region, then the overlay controls it
    // collected in ascending Z_Order, each from its parent's content origin; then Present.
    void Paint(LControl& root, const Orv::RectRegion& dirty)
    {
        context->GetDirtyRegion() = dirty;
        renderer->RenderStart(context);
        Orv::RCPtrArray<LControl> overlays;
        EXPECT_EQ(root.Draw(*renderer, context->GetDirtyRegion(), overlays, false), S_OK);
        std::vector<RCPtr<LControl>> ordered;
        for (uint32_t index = 0; index < overlays.GetCount(); ++index) {
            ordered.push_back(overlays.GetData()[index]);
        }
        std::stable_sort(ordered.begin(), ordered.end(), [](const auto& a, const auto& b) {
            return a->GetLayout()->zOrder < b->GetLayout()->zOrder;
        });
        for (const RCPtr<LControl>& overlay : ordered) {
            const Orv::PointD origin = WindowOrigin(*overlay);
            renderer->PushClip();
            renderer->PushClip(
                Orv::PointD{origin.x - overlay->GetRect().x, origin.y - overlay->GetRect().y});
            Orv::RCPtrArray<LControl> nested;
            EXPECT_EQ(overlay->Draw(*renderer, context->GetDirtyRegion(), nested, true), S_OK);
            renderer->PopClip();
            renderer->PopClip();
        }
        renderer->RenderFinish(context);
    }

    void PaintAll(LControl& root)
    {
        Orv::RectRegion whole;
        whole.AddRect(0, 0, kWindowWidth, kWindowHeight);
        Paint(root, whole);
    }

    std::vector<uint32_t> Pixels() const
    {
        std::vector<uint32_t> pixels(static_cast<size_t>(kWindowWidth) * kWindowHeight);
        for (int y = 0; y < kWindowHeight; ++y) {
            for (int x = 0; x < kWindowWidth; ++x) {
                pixels[static_cast<size_t>(y) * kWindowWidth + x] =
                    Win32Test::GetWindowPixel(window, x, y);
            }
        }
        return pixels;
    }

    static void WritePng(const std::vector<uint32_t>& pixels, const std::string& path)
    {
        cairo_surface_t* surface =
            cairo_image_surface_create(CAIRO_FORMAT_RGB24, kWindowWidth, kWindowHeight);
        cairo_surface_flush(surface);
        unsigned char* data = cairo_image_surface_get_data(surface);
        const int stride = cairo_image_surface_get_stride(surface);
        for (int y = 0; y < kWindowHeight; ++y) {
            std::memcpy(data + static_cast<ptrdiff_t>(y) * stride,
                        &pixels[static_cast<size_t>(y) * kWindowWidth],
                        static_cast<size_t>(kWindowWidth) * 4);
        }
        cairo_surface_mark_dirty(surface);
        EXPECT_EQ(cairo_surface_write_to_png(surface, path.c_str()), CAIRO_STATUS_SUCCESS);
        cairo_surface_destroy(surface);
    }

    HWND window = nullptr;
    RCPtr<Orv::LGDIRenderer> renderer;
    RCPtr<Orv::LRenderContextInfo> context;
};

const LControl* FindNamed(const LControl& control, const char* name)
{
    if (Narrow(control.GetName()) == name) {
        return &control;
    }
    for (uint32_t index = 0; index < control.GetChildren().GetCount(); ++index) {
        if (const LControl* found =
                FindNamed(*control.GetChildren().GetAt(index, ChildList::kInsertionOrder), name)) {
            return found;
        }
    }
    return nullptr;
}

Orv::RectD Inner(const Orv::RectD& area)
{
    return {area.x + 1, area.y + 1, area.width - 2, area.height - 2};
}

uint32_t LookColourAt(const LControl& control, int x, int y)
{
    const Orv::PointD origin = WindowOrigin(control);
    return const_cast<LControl&>(control).GetLookColorAt(
        {static_cast<Orv::LongCoord>(x - origin.x), static_cast<Orv::LongCoord>(y - origin.y)}, -1);
}

// Every sampled pixel shows the look colour of the last control that paints there, unless the
// look is not opaque there or the point lies in a text box; a hidden control owns no pixel.
void ExpectLookColoursEverywhere(const std::vector<uint32_t>& pixels, const LControl& root,
                                 std::map<std::string, int>& comparedByControl)
{
    std::vector<Painted> tree;
    std::vector<const LControl*> overlays;
    CollectPainted(root, Orv::RectD{0, 0, kWindowWidth, kWindowHeight}, tree, overlays);
    for (const LControl* overlay : overlays) {
        CollectPainted(*overlay, Orv::RectD{0, 0, kWindowWidth, kWindowHeight}, tree, overlays);
    }
    std::vector<Orv::RectD> textBoxes;
    for (const Painted& painted : tree) {
        const Orv::RectD box = TextBox(*painted.control);
        if (box.width > 0) {
            textBoxes.push_back(box);
        }
    }
    int mismatches = 0;
    for (int y = 1; y < kWindowHeight; y += 3) {
        for (int x = 1; x < kWindowWidth; x += 3) {
            const double cx = x + 0.5;
            const double cy = y + 0.5;
            bool onEdge = false;
            for (const Painted& painted : tree) {
                // Only pixels away from every edge, where rounding cannot change the owner.
                onEdge = onEdge ||
                         (Contains(painted.area, cx, cy) && !Contains(Inner(painted.area), cx, cy));
            }
            if (onEdge ||
                std::any_of(textBoxes.begin(), textBoxes.end(),
                            [&](const Orv::RectD& box) { return Contains(box, cx, cy); })) {
                continue;
            }
            // The last control painted there whose look is not clear there shows; a look partly
            // clear there blends, which is not compared.
            const Painted* owner = nullptr;
            uint32_t expected = 0;
            for (auto at = tree.rbegin(); at != tree.rend(); ++at) {
                if (!Contains(Inner(at->area), cx, cy)) {
                    continue;
                }
                expected = LookColourAt(*at->control, x, y);
                if ((expected >> 24) != 0) {
                    owner = &*at;
                    break;
                }
            }
            if (owner == nullptr || (expected >> 24) != 0xFF) {
                continue;
            }
            // Where an image changes colour within a pixel, stretching may pick either side.
            bool flat = true;
            for (int dy = -1; dy <= 1 && flat; ++dy) {
                for (int dx = -1; dx <= 1 && flat; ++dx) {
                    flat = LookColourAt(*owner->control, x + dx, y + dy) == expected;
                }
            }
            if (!flat) {
                continue;
            }
            const uint32_t shown = pixels[static_cast<size_t>(y) * kWindowWidth + x];
            const std::string name = Narrow(owner->control->GetName());
            ++comparedByControl[name];
            if (!Near(shown, expected, 2) && ++mismatches <= 10) {
                ADD_FAILURE() << name << " at (" << x << ", " << y << "): shows " << std::hex
                              << shown << ", its look " << expected;
            }
        }
    }
    EXPECT_EQ(mismatches, 0);
}

TEST_F(ProductSkinPaint, BothSkinsPaintTheirLooksTextsAndNothingHidden)
{
    for (int32_t skin = 0; skin < 2; ++skin) {
        SCOPED_TRACE("skin " + std::to_string(skin));
        RCPtr<LControl> root = Build(skin);
        ASSERT_TRUE(root);
        LayOut(*root, kWindowWidth, kWindowHeight);
        ASSERT_EQ(root->GetRect().x, 0);
        ASSERT_EQ(root->GetRect().y, 0);
        PaintAll(*root);
        const std::vector<uint32_t> pixels = Pixels();
        WritePng(pixels, "product-skin-" + std::to_string(skin) + ".png");

        std::map<std::string, int> compared;
        ExpectLookColoursEverywhere(pixels, *root, compared);
        for (const char* name :
             {"viewDevice", "buttonSupport", "comboBoxBuffer", "comboBoxSampleRate"}) {
            EXPECT_GT(compared[name], 0) << name;
        }
        // The clock source's closed look is clear: what lies beneath shows through it.
        const LControl* clockSource = FindNamed(*root, "comboBoxClockSource");
        ASSERT_NE(clockSource, nullptr);
        EXPECT_TRUE(const_cast<LControl*>(clockSource)->IsTransparentAt(10, 10));
        EXPECT_EQ(compared.count("comboBoxClockSource"), 0u);
        for (const char* name : {"listBox", "labelBufferSizePow2", "labelInputLatency"}) {
            const LControl* hidden = FindNamed(*root, name);
            ASSERT_NE(hidden, nullptr);
            EXPECT_FALSE(hidden->IsVisible(true)) << name;
            EXPECT_EQ(compared.count(name), 0u) << name;
        }

        // Each visible label's text shows in its text colour inside its text box.
        std::vector<Painted> tree;
        std::vector<const LControl*> overlays;
        CollectPainted(*root, Orv::RectD{0, 0, kWindowWidth, kWindowHeight}, tree, overlays);
        int labels = 0;
        for (const Painted& painted : tree) {
            const LControl& control = *painted.control;
            const Orv::RectD box = TextBox(control);
            const RCPtr<Orv::LLook> look = control.GetLook(-1);
            if (box.width <= 0 || !control.IsVisible(true) || !look->GetTextForegroundPart() ||
                !look->GetTextForegroundPart()->IsColorFill()) {
                continue;
            }
            Orv::RectD visible;
            if (!Orv::RectD::Intersect(visible, box, painted.area)) {
                continue;
            }
            const uint32_t ink =
                look->GetTextForegroundPart()->GetColorAtPoint(Orv::PointT<Orv::LongCoord>{0, 0});
            int inked = 0;
            for (int y = static_cast<int>(visible.y); y < static_cast<int>(visible.Bottom()); ++y) {
                for (int x = static_cast<int>(visible.x); x < static_cast<int>(visible.Right());
                     ++x) {
                    inked += Near(pixels[static_cast<size_t>(y) * kWindowWidth + x], ink, 24);
                }
            }
            EXPECT_GT(inked, 0) << Narrow(control.GetName()) << " " << Narrow(control.GetText());
            ++labels;
        }
        EXPECT_GE(labels, 4);
        root = nullptr;
        ExpectNoControlAlive();
    }
}

TEST_F(ProductSkinPaint, APaintOfOneLabelsBoxChangesNothingElse)
{
    RCPtr<LControl> root = Build(0);
    ASSERT_TRUE(root);
    LayOut(*root, kWindowWidth, kWindowHeight);
    PaintAll(*root);
    const std::vector<uint32_t> before = Pixels();

    LControl* label = const_cast<LControl*>(FindNamed(*root, "labelVersionNumber"));
    ASSERT_NE(label, nullptr);
    ASSERT_TRUE(label->IsVisible(true));
    EXPECT_TRUE(label->ChangeText(u"WWWWWWWW", false));
    Orv::RectD box = WindowBox(*label);
    box.RoundEdges();
    const Orv::RectT<Orv::LongCoord> whole = box.ToLong();
    Orv::RectRegion dirty;
    dirty.AddRect(whole.x, whole.y, whole.x + whole.width, whole.y + whole.height);
    Paint(*root, dirty);
    const std::vector<uint32_t> after = Pixels();

    int changedInside = 0;
    int changedOutside = 0;
    for (int y = 0; y < kWindowHeight; ++y) {
        for (int x = 0; x < kWindowWidth; ++x) {
            const size_t at = static_cast<size_t>(y) * kWindowWidth + x;
            if (before[at] == after[at]) {
                continue;
            }
            if (Contains(box, x + 0.5, y + 0.5)) {
                ++changedInside;
            } else {
                ++changedOutside;
            }
        }
    }
    EXPECT_GT(changedInside, 0);
    EXPECT_EQ(changedOutside, 0);
    root = nullptr;
    ExpectNoControlAlive();
}

// The skin painted through a root window against the off-screen paint above, pixel for pixel
// over the whole surface, each on a surface of its own. The root window makes its root control
// fill the client area, so the off-screen tree is laid out the same way: with the document's own
// placement where the host's client area is the skin's size (the pixels the first paint test
// writes), filled to the window where a window without host keeps its 1024 x 768.
TEST_F(ProductSkinPaint, ThroughARootWindowItPaintsTheOffScreenPixels)
{
    struct Case
    {
        const char* name;
        Orv::PointL client;
        bool hosted;
        bool fillReference;
    };
    const Case cases[] = {
        {"hosted at the skin's own 480 x 400", {480, 400}, true, false},
        {"without host, 1024 x 768", {kWindowWidth, kWindowHeight}, false, true},
    };
    for (const Case& row : cases) {
        SCOPED_TRACE(row.name);
        ReopenSurface();
        RCPtr<LControl> reference = Build(0);
        ASSERT_TRUE(reference);
        if (row.fillReference) {
            Orv::AxisPositionSpec position;
            Orv::AxisSizeSpec fill;
            fill.reference = Orv::kSizeToClient;
            fill.rel = 1.0f;
            reference->SetLayoutPlacement(position, fill, position, fill);
        }
        LayOut(*reference, row.client.x, row.client.y);
        ASSERT_EQ(reference->GetRect().width, row.client.x);
        ASSERT_EQ(reference->GetRect().height, row.client.y);
        PaintAll(*reference);
        const std::vector<uint32_t> offScreen = Pixels();
        reference = nullptr;

        ReopenSurface();
        RootWindowTest::RecordingServices host;
        host.client = row.client;
        host.focused = false;
        RCPtr<Orv::LRootWindow> rootWindow = Orv::LRootWindow::Create(
            RCPtr<Orv::LRenderer>(renderer.Get()), row.hosted ? &host : nullptr);
        ASSERT_EQ(rootWindow->SetRootControlByName(Orv::WideString(u"mainControl")), S_OK);
        rootWindow->OnClientSizeChanged(row.client);
        const LControl* root = rootWindow->GetRootControl().Get();
        ASSERT_NE(root, nullptr);
        EXPECT_EQ(root->GetRect().width, row.client.x);
        EXPECT_EQ(root->GetRect().height, row.client.y);
        rootWindow->PaintContext(context, Orv::RectL{});
        const std::vector<uint32_t> throughWindow = Pixels();
        WritePng(throughWindow, "product-skin-window-" + std::to_string(row.client.x) + "x" +
                                    std::to_string(row.client.y) + ".png");

        int differing = 0;
        Orv::RectL first{};
        for (int y = 0; y < kWindowHeight; ++y) {
            for (int x = 0; x < kWindowWidth; ++x) {
                const size_t at = static_cast<size_t>(y) * kWindowWidth + x;
                if (offScreen[at] != throughWindow[at] && differing++ == 0) {
                    first = Orv::RectL{x, y, 1, 1};
                }
            }
        }
        EXPECT_EQ(differing, 0) << "first at (" << first.x << ", " << first.y << ")";
        EXPECT_EQ(rootWindow->DropBackReferences(), S_OK);
        rootWindow = nullptr;
        ExpectNoControlAlive();
    }
}

// The same skin as the root control of a 1024 x 768 window without host: one label's repaint
// stays inside its box, and the window's release takes the tree with it.
TEST_F(ProductSkinPaint, AsARootWindowsTreeItRepaintsOnlyWhatChangedAndGoesWithTheWindow)
{
    factory->currentSkinIndex = 0;
    RCPtr<Orv::LRootWindow> rootWindow =
        Orv::LRootWindow::Create(RCPtr<Orv::LRenderer>(renderer.Get()), nullptr);
    ASSERT_EQ(rootWindow->SetRootControlByName(Orv::WideString(u"mainControl")), S_OK);
    RCPtr<LControl> root = rootWindow->GetRootControl();
    ASSERT_TRUE(root);
    LayOut(*root, kWindowWidth, kWindowHeight);
    rootWindow->InvalidateRect(Orv::RectL{0, 0, kWindowWidth, kWindowHeight});
    rootWindow->PaintContext(context, Orv::RectL{});
    const std::vector<uint32_t> throughWindow = Pixels();

    LControl* label = const_cast<LControl*>(FindNamed(*root, "labelVersionNumber"));
    ASSERT_NE(label, nullptr);
    EXPECT_TRUE(label->ChangeText(u"WWWWWWWW", false));
    label->InvalidateRect(Orv::RectD{0, 0, label->GetRect().width, label->GetRect().height}, true);
    rootWindow->PaintContext(context, Orv::RectL{});
    const std::vector<uint32_t> after = Pixels();
    Orv::RectD box = WindowBox(*label);
    box.RoundEdges();
    int changedInside = 0;
    int changedOutside = 0;
    for (int y = 0; y < kWindowHeight; ++y) {
        for (int x = 0; x < kWindowWidth; ++x) {
            const size_t at = static_cast<size_t>(y) * kWindowWidth + x;
            if (throughWindow[at] != after[at]) {
                ++(Contains(box, x + 0.5, y + 0.5) ? changedInside : changedOutside);
            }
        }
    }
    EXPECT_GT(changedInside, 0);
    EXPECT_EQ(changedOutside, 0);

    label = nullptr;
    root = nullptr;
    EXPECT_EQ(rootWindow->DropBackReferences(), S_OK);
    rootWindow = nullptr;
    ExpectNoControlAlive();
}

}  // namespace
