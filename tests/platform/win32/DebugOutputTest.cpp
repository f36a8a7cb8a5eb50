#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Win32Test/DebugOutputSink.h"
#include "windows.h"

namespace {

using Win32Test::TakeDebugOutput;
using Texts = std::vector<std::string>;

class DebugOutput : public ::testing::Test
{
protected:
    void SetUp() override { TakeDebugOutput(); }
    void TearDown() override { Win32Test::SetDebugOutputEcho(false); }
};

TEST_F(DebugOutput, NarrowAndWideTextsArriveInOrderAsUtf8AndAreTakenOnce)
{
    OutputDebugStringA("first\n");
    OutputDebugStringW(u"zweite \u00fcber \U0001F50A");
    OutputDebugStringA(nullptr);
    EXPECT_EQ(TakeDebugOutput(), (Texts{"first\n",
                                        "zweite \xC3\xBC"
                                        "ber \xF0\x9F\x94\x8A",
                                        ""}));
    EXPECT_TRUE(TakeDebugOutput().empty());
}

TEST_F(DebugOutput, LoneSurrogatesBecomeReplacementCharacters)
{
    const char16_t text[] = {u'a', 0xD800, u'b', 0xDC00, 0};
    OutputDebugStringW(text);
    EXPECT_EQ(TakeDebugOutput(), (Texts{"a\xEF\xBF\xBD"
                                        "b\xEF\xBF\xBD"}));
}

TEST_F(DebugOutput, SinkKeepsOnlyTheMostRecentTexts)
{
    for (size_t i = 0; i <= Win32Test::kDebugOutputCapacity; ++i) {
        OutputDebugStringA(std::to_string(i).c_str());
    }
    const Texts texts = TakeDebugOutput();
    ASSERT_EQ(texts.size(), Win32Test::kDebugOutputCapacity);
    EXPECT_EQ(texts.front(), "1");
    EXPECT_EQ(texts.back(), std::to_string(Win32Test::kDebugOutputCapacity));
}

TEST_F(DebugOutput, EchoesToStderrOnlyWhenAsked)
{
    testing::internal::CaptureStderr();
    OutputDebugStringA("quiet ");
    Win32Test::SetDebugOutputEcho(true);
    OutputDebugStringW(u"loud");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "loud");
    EXPECT_EQ(TakeDebugOutput(), (Texts{"quiet ", "loud"}));
}

}  // namespace
