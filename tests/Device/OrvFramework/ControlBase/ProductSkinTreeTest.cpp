// The program's own skins built into trees of base controls: every class of the skin document
// creates a plain LControl through the creation sequence, and the tree must be the document's
// (names, nesting, children in ascending LayoutOrder, one look per look-list slot), with the
// labels of the control string tables and the skin's font. The document is read here on its own,
// with expat, so that the tree is not compared with what the skin reader made of it.

#include <expat.h>
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "ControlBase/DocumentBytes.h"
#include "ControlTestSupport.h"
#include "Utilities/Graphics/Font.h"

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

}  // namespace
