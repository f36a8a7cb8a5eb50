// A display that goes away ends the message loop instead of the process.

#include <gtest/gtest.h>

#include <windows.h>

#include "Win32Test/Windowing.h"
#include "XvfbServer.h"

namespace {

TEST(X11ConnectionLoss, EndsTheLoopWithQuitAndALine)
{
    XvfbServer server;
    // scripts/setup installs Xvfb: a machine without it cannot check the X back end, and says so
    // as a failure rather than passing over it.
    std::string why;
    ASSERT_TRUE(server.Start(&why)) << "no X server for the test: " << why;
    ASSERT_TRUE(Win32Test::UseDisplay(server.Name().c_str()));
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = DefWindowProcW;
    windowClass.lpszClassName = u"Lost";
    ASSERT_NE(RegisterClassW(&windowClass), 0);
    HWND window = CreateWindowExW(0, u"Lost", u"", WS_POPUP | WS_VISIBLE, 0, 0, 30, 20, nullptr,
                                  nullptr, nullptr, nullptr);
    ASSERT_NE(window, nullptr);
    SetTimer(window, 1, 50, nullptr);
    MSG message;
    for (int i = 0; i < 3 && GetMessageW(&message, nullptr, 0, 0) > 0; ++i) {
        DispatchMessageW(&message);
    }

    testing::internal::CaptureStderr();
    server.Stop();
    int handled = 0;
    BOOL got = TRUE;
    // The timer keeps the loop turning; the first look at the display after the loss ends it.
    while ((got = GetMessageW(&message, nullptr, 0, 0)) > 0 && handled < 400) {
        DispatchMessageW(&message);
        ++handled;
    }
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_EQ(got, FALSE) << "WM_QUIT";
    EXPECT_LT(handled, 400);
    EXPECT_NE(said.find("connection to the X display was lost"), std::string::npos) << said;
    EXPECT_TRUE(DestroyWindow(window)) << "the model goes on without the display";
}

}  // namespace
