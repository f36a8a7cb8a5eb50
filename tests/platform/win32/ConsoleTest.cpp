#include <gtest/gtest.h>

#include "Win32Test/ConsoleState.h"
#include "windows.h"

namespace {

class Console : public ::testing::Test
{
protected:
    void SetUp() override { Win32Test::ResetConsole(); }
    void TearDown() override { Win32Test::ResetConsole(); }
};

TEST_F(Console, OpensOncePerProcess)
{
    EXPECT_FALSE(Win32Test::GetConsoleState().open);
    EXPECT_TRUE(AllocConsole());
    EXPECT_TRUE(Win32Test::GetConsoleState().open);
    SetLastError(ERROR_SUCCESS);
    EXPECT_FALSE(AllocConsole());
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_TRUE(FreeConsole());
    EXPECT_TRUE(AllocConsole());
}

TEST_F(Console, ScreenBufferIsReadAndResizedOnlyThroughAnOpenScreenHandle)
{
    CONSOLE_SCREEN_BUFFER_INFO info{};
    const HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
    EXPECT_FALSE(GetConsoleScreenBufferInfo(output, &info));
    ASSERT_TRUE(AllocConsole());
    EXPECT_FALSE(GetConsoleScreenBufferInfo(GetStdHandle(STD_INPUT_HANDLE), &info));
    EXPECT_EQ(GetStdHandle(0), INVALID_HANDLE_VALUE);

    ASSERT_TRUE(GetConsoleScreenBufferInfo(output, &info));
    info.dwSize.Y = 500;
    EXPECT_TRUE(SetConsoleScreenBufferSize(GetStdHandle(STD_ERROR_HANDLE), info.dwSize));
    EXPECT_EQ(Win32Test::GetConsoleState().bufferSize.Y, 500);
    ASSERT_TRUE(GetConsoleScreenBufferInfo(output, &info));
    EXPECT_EQ(info.dwSize.Y, 500);
}

TEST_F(Console, BufferSmallerThanTheWindowOrTooLargeIsRefused)
{
    ASSERT_TRUE(AllocConsole());
    const HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
    for (const COORD size : {COORD{80, 10}, COORD{10, 500}, COORD{80, -1}, COORD{80, 32767}}) {
        SetLastError(ERROR_SUCCESS);
        EXPECT_FALSE(SetConsoleScreenBufferSize(output, size));
        EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    }
    EXPECT_EQ(Win32Test::GetConsoleState().bufferSize.Y, 300);
}

}  // namespace
