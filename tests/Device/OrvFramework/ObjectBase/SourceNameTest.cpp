#include "ObjectBase/SourceName.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "ObjectBase/Exception.h"
#include "ObjectBase/Holder.h"
#include "ObjectBase/RefCountedObject.h"
#include "ObjectBase/Wrapper.h"
#include "Utilities/Storage/RCPtrArray.h"

namespace OrvTest {

// Stands for a class template whose member throws, such as a queue of wrapped values.
template <class T, unsigned N>
struct Thrower
{
    static void Throw() { ORV_THROW(RuntimeError); }
};

class ParamValues
{
};

}  // namespace OrvTest

namespace {

using Orv::Detail::MakeSourceFileText;
using OrvTest::ParamValues;
using OrvTest::Thrower;

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

TEST(FunctionName, NamesDefaultTemplateArgumentsTheCompilerLeavesOut)
{
    struct Row
    {
        const char* pretty;
        const char* expected;
    };
    const Row rows[] = {
        {"T Orv::RCPtrQueue<T, N>::Dequeue() [with T = Orv::LWrapper<Orv::ParamValues>; unsigned "
         "int N = 256]",
         "Orv::RCPtrQueue<class Orv::LWrapper<class Orv::ParamValues,class "
         "Orv::LRefCountedObject>,256>::Dequeue"},
        {"void Orv::Q<T>::F() [with T = Orv::RCPtrArray<Orv::LButton>]",
         "Orv::Q<class Orv::RCPtrArray<class Orv::LButton,1,0>>::F"},
        {"void Orv::Q<T>::F() [with T = Orv::ConstRCPtrArray<Orv::LButton, 4>]",
         "Orv::Q<class Orv::ConstRCPtrArray<class Orv::LButton,4,0>>::F"},
        {"void Orv::Q<T>::F() [with T = Orv::LRCPtrArray<Orv::LWrapper<Orv::X> >]",
         "Orv::Q<class Orv::LRCPtrArray<class Orv::LWrapper<class Orv::X,class "
         "Orv::LRefCountedObject>,1,0>>::F"},
        // Given in full, nothing is added; a template of the same last name elsewhere is not ours.
        {"void Orv::Q<T>::F() [with T = Orv::RCPtrArray<Orv::LButton, 2, 3>]",
         "Orv::Q<class Orv::RCPtrArray<class Orv::LButton,2,3>>::F"},
        {"void Orv::Q<T>::F() [with T = Other::LWrapper<Orv::X>]",
         "Orv::Q<class Other::LWrapper<class Orv::X>>::F"},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(Orv::Detail::QualifiedFunctionName(row.pretty), row.expected) << row.pretty;
    }
}

TEST(FunctionName, EveryDefaultArgumentRowMatchesTheTemplateItself)
{
    // The run-time type name lists every argument, defaults included.
    struct Row
    {
        const char* shortSpelling;
        std::string full;
    };
    using Orv::Detail::RuntimeTypeName;
    const Row rows[] = {
        {"Orv::LWrapper<OrvTest::ParamValues>",
         RuntimeTypeName(typeid(Orv::LWrapper<ParamValues>))},
        {"Orv::RCPtrArray<Orv::LRefCountedObject>",
         RuntimeTypeName(typeid(Orv::RCPtrArray<Orv::LRefCountedObject>))},
        {"Orv::ConstRCPtrArray<Orv::LRefCountedObject>",
         RuntimeTypeName(typeid(Orv::ConstRCPtrArray<Orv::LRefCountedObject>))},
        {"Orv::LRCPtrArray<Orv::LRefCountedObject>",
         RuntimeTypeName(typeid(Orv::LRCPtrArray<Orv::LRefCountedObject>))},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(Orv::Detail::ClassKeyTypeName(row.shortSpelling), row.full);
    }
}

TEST(FunctionName, AThrownTextNamesTheDefaultArguments)
{
    try {
        Thrower<Orv::LWrapper<ParamValues>, 256>::Throw();
        FAIL() << "no exception";
    } catch (const std::runtime_error& error) {
        EXPECT_THAT(error.what(),
                    ::testing::StartsWith("Runtime Error : OrvTest::Thrower<class "
                                          "Orv::LWrapper<class OrvTest::ParamValues,class "
                                          "Orv::LRefCountedObject>,256>::Throw : "));
    }
}

TEST(TypeName, ClassKeywordBlankAndQualifiedName)
{
    EXPECT_EQ(Orv::Detail::RuntimeTypeName(typeid(Orv::LRefCountedObject)),
              "class Orv::LRefCountedObject");
    EXPECT_EQ(Orv::Detail::RuntimeTypeName(typeid(Orv::LHolder<int>)), "class Orv::LHolder<int>");
    EXPECT_EQ(Orv::Detail::RuntimeTypeName(typeid(unsigned int)), "unsigned int");
    EXPECT_EQ(Orv::Detail::ClassKeyTypeName("struct Foo"), "struct Foo");
    // Integer arguments without the demangler's suffixes.
    EXPECT_EQ(Orv::Detail::ClassKeyTypeName("Orv::A<1u, 256ul, -3l, 7>"),
              "class Orv::A<1,256,-3,7>");
    EXPECT_EQ(Orv::Detail::ClassKeyTypeName("Orv::A<u1, 1x>"), "class Orv::A<class u1,1x>");
}

}  // namespace
