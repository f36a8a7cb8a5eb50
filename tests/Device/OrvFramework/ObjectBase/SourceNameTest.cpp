#include "ObjectBase/SourceName.h"

#include <gtest/gtest.h>

#include <string>

#include "ObjectBase/Holder.h"
#include "ObjectBase/RefCountedObject.h"

namespace {

using Orv::Detail::MakeSourceFileText;

// The file names are made at compile time.
static_assert(
    std::string_view(MakeSourceFileText("/src/Device/OrvFramework/ObjectBase/RCPtr.h").text) ==
    "ObjectBase\\RCPtr");

// Each name is made at compile time; the texts live as long as the program.
constexpr auto kFramework =
    MakeSourceFileText("/work/main/Device/OrvFramework/Utilities/Storage/OrvFile.cpp");
constexpr auto kPanel = MakeSourceFileText("Device/Panel/Panel/UI/Common/BufferSizePanel.cpp");
constexpr auto kEngine =
    MakeSourceFileText("/x/Device/DeviceControl/GeneratedCode/Engine/Src/AudioStatus.cpp");
constexpr auto kNested =
    MakeSourceFileText("/home/Device/work/Device/OrvFramework/Renderer/Gdi/GDIRenderer.cpp");
constexpr auto kDottedFolder = MakeSourceFileText("other/v1.2/file");
constexpr auto kOtherExtension = MakeSourceFileText("lib/name.inl");

TEST(SourceFile, RelativeToItsRootWithoutExtensionWithBackslashes)
{
    const struct
    {
        std::string_view expected;
        std::string_view actual;
    } cases[] = {
        {"Utilities\\Storage\\OrvFile", kFramework.text},
        {"UI\\Common\\BufferSizePanel", kPanel.text},
        {"..\\..\\DeviceControl\\GeneratedCode\\Engine\\Src\\AudioStatus", kEngine.text},
        // A folder of that name higher up the build path does not count.
        {"Renderer\\Gdi\\GDIRenderer", kNested.text},
        // Dots in folder names are not extensions.
        {"other\\v1.2\\file", kDottedFolder.text},
        {"lib\\name", kOtherExtension.text},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.actual, c.expected);
    }
    EXPECT_STREQ(ORV_THIS_FILE, "ObjectBase\\SourceNameTest");
}

TEST(FunctionName, ReadsAsTheMessagesSpellIt)
{
    const struct
    {
        const char* pretty;
        const char* expected;
    } cases[] = {
        {"void Orv::LRefCountedObject::SetUnshareable(bool)",
         "Orv::LRefCountedObject::SetUnshareable"},
        {"virtual void Orv::LGDIRenderer::DrawBitmap(const Orv::RectT<double>&, int) const",
         "Orv::LGDIRenderer::DrawBitmap"},
        {"ORVRESULT LRootModuleEngine::Initialize()", "LRootModuleEngine::Initialize"},
        {"Orv::File::File(const char*)", "Orv::File::File"},
        {"static void Orv::LApp::Run()", "Orv::LApp::Run"},
        {"void Orv::ConstRCPtr<T>::Unshare() [with T = Orv::LRefCountedObject]",
         "Orv::ConstRCPtr<class Orv::LRefCountedObject>::Unshare"},
        {"T Orv::RCPtrQueue<T, N>::Dequeue() [with T = Orv::LNotification; long unsigned int N = "
         "256]",
         "Orv::RCPtrQueue<class Orv::LNotification,256>::Dequeue"},
        {"void Orv::LHolder<T>::Set(T) [with T = int]", "Orv::LHolder<int>::Set"},
        {"void Orv::Q<T>::F() [with T = Orv::LWrapper<Orv::ParamValues, Orv::LRefCountedObject>]",
         "Orv::Q<class Orv::LWrapper<class Orv::ParamValues,class Orv::LRefCountedObject>>::F"},
        {"std::vector<int, std::allocator<int> > Orv::X::Items() const", "Orv::X::Items"},
        {"Orv::X::operator bool() const", "Orv::X::operator bool"},
        {"void Orv::X::operator()(int)", "Orv::X::operator()"},
        {"main", "main"},
        // clang spells a class template's member with its arguments in place and no bindings.
        {"int32_t Orv::RCPtrArray<OrvTest::LButton, 1, 0>::RemoveItem(uint32_t, RCPtr<T> &)",
         "Orv::RCPtrArray<class OrvTest::LButton,1,0>::RemoveItem"},
        {"void Orv::Q<Orv::LWrapper<Orv::ParamValues, int>>::F()",
         "Orv::Q<class Orv::LWrapper<class Orv::ParamValues,int>>::F"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Orv::Detail::QualifiedFunctionName(c.pretty), c.expected) << c.pretty;
    }
}

TEST(TypeName, ClassKeywordBlankAndQualifiedName)
{
    EXPECT_EQ(Orv::Detail::RuntimeTypeName(typeid(Orv::LRefCountedObject)),
              "class Orv::LRefCountedObject");
    EXPECT_EQ(Orv::Detail::RuntimeTypeName(typeid(Orv::LHolder<int>)), "class Orv::LHolder<int>");
    EXPECT_EQ(Orv::Detail::RuntimeTypeName(typeid(unsigned int)), "unsigned int");
    EXPECT_EQ(Orv::Detail::ClassKeyTypeName("struct Foo"), "struct Foo");
}

}  // namespace
