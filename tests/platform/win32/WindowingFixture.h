#pragma once
// A fresh headless windowing model on the virtual clock, and plain test windows whose procedure
// runs a test's hook for a message before the default handling.

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <thread>

#include <windows.h>

#include "MessageSequence.h"
#include "Win32Test/HeadlessWindow.h"
#include "Win32Test/SleepClock.h"
#include "Win32Test/Windowing.h"

namespace WindowingFixture {

// A hook that answers (true, result) handles the message itself.
using Hook = std::function<bool(HWND, WPARAM, LPARAM, LRESULT*)>;

inline std::map<UINT, Hook>& Hooks()
{
    static std::map<UINT, Hook> hooks;
    return hooks;
}

inline LRESULT CALLBACK TestProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto it = Hooks().find(message);
    if (it != Hooks().end()) {
        LRESULT result = 0;
        if (it->second(window, wParam, lParam, &result)) {
            return result;
        }
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

class Windowing : public ::testing::Test
{
protected:
    void SetUp() override
    {
        Win32Test::ResetWindowing();
        Win32Test::UseVirtualSleepClock();
        Hooks().clear();
    }

    void TearDown() override
    {
        Hooks().clear();
        Win32Test::ResetWindowing();
        Win32Test::ResetSleepClock();
    }

    // A class of the given style (registered once per test) with the test procedure.
    static void Register(const char16_t* name, UINT style)
    {
        WNDCLASSW windowClass{};
        windowClass.style = style;
        windowClass.lpfnWndProc = TestProcedure;
        windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
        windowClass.lpszClassName = name;
        ASSERT_NE(RegisterClassW(&windowClass), 0);
    }

    // A shown popup window of that class, its client area at (x, y).
    static HWND Open(const char16_t* className, int x, int y, int width, int height)
    {
        return CreateWindowExW(0, className, u"test", WS_POPUP | WS_VISIBLE, x, y, width, height,
                               nullptr, nullptr, nullptr, nullptr);
    }

    // Dispatches everything the queue holds now (without waiting or moving the clock).
    static void Drain()
    {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.message == WM_QUIT) {
                PostQuitMessage(static_cast<int>(message.wParam));
                return;
            }
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }
};

}  // namespace WindowingFixture
