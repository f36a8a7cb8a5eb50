#pragma once
// Expected message sequences as tables: one row per message, with flags saying what of it is
// checked. MatchSequence compares what windows received with a table and names the first
// difference.

#include <gtest/gtest.h>

#include <initializer_list>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "Win32Test/Windowing.h"

namespace MessageSequence {

enum Flags : unsigned
{
    kSent = 1,       // by SendMessageW or the system
    kPosted = 2,     // taken from the queue and dispatched
    kWParam = 4,     // wParam checked
    kLParam = 8,     // lParam checked
    kOptional = 16,  // may be missing
};

struct Expected
{
    UINT message;
    unsigned flags = 0;
    WPARAM wParam = 0;
    LPARAM lParam = 0;
    HWND window = nullptr;  // checked when not null
};

inline std::string Name(UINT message)
{
    static const std::pair<UINT, const char*> kNames[] = {
        {WM_CREATE, "WM_CREATE"},
        {WM_DESTROY, "WM_DESTROY"},
        {WM_MOVE, "WM_MOVE"},
        {WM_SIZE, "WM_SIZE"},
        {WM_ACTIVATE, "WM_ACTIVATE"},
        {WM_SETFOCUS, "WM_SETFOCUS"},
        {WM_KILLFOCUS, "WM_KILLFOCUS"},
        {WM_ENABLE, "WM_ENABLE"},
        {WM_PAINT, "WM_PAINT"},
        {WM_CLOSE, "WM_CLOSE"},
        {WM_QUIT, "WM_QUIT"},
        {WM_SHOWWINDOW, "WM_SHOWWINDOW"},
        {WM_ACTIVATEAPP, "WM_ACTIVATEAPP"},
        {WM_SETCURSOR, "WM_SETCURSOR"},
        {WM_NCCREATE, "WM_NCCREATE"},
        {WM_NCDESTROY, "WM_NCDESTROY"},
        {WM_NCACTIVATE, "WM_NCACTIVATE"},
        {WM_KEYDOWN, "WM_KEYDOWN"},
        {WM_KEYUP, "WM_KEYUP"},
        {WM_CHAR, "WM_CHAR"},
        {WM_SYSKEYDOWN, "WM_SYSKEYDOWN"},
        {WM_SYSKEYUP, "WM_SYSKEYUP"},
        {WM_SYSCHAR, "WM_SYSCHAR"},
        {WM_SYSCOMMAND, "WM_SYSCOMMAND"},
        {WM_TIMER, "WM_TIMER"},
        {WM_MOUSEMOVE, "WM_MOUSEMOVE"},
        {WM_LBUTTONDOWN, "WM_LBUTTONDOWN"},
        {WM_LBUTTONUP, "WM_LBUTTONUP"},
        {WM_LBUTTONDBLCLK, "WM_LBUTTONDBLCLK"},
        {WM_RBUTTONDOWN, "WM_RBUTTONDOWN"},
        {WM_RBUTTONUP, "WM_RBUTTONUP"},
        {WM_RBUTTONDBLCLK, "WM_RBUTTONDBLCLK"},
        {WM_MBUTTONDOWN, "WM_MBUTTONDOWN"},
        {WM_MBUTTONUP, "WM_MBUTTONUP"},
        {WM_MOUSEWHEEL, "WM_MOUSEWHEEL"},
        {WM_MOUSEHWHEEL, "WM_MOUSEHWHEEL"},
        {WM_SIZING, "WM_SIZING"},
        {WM_CAPTURECHANGED, "WM_CAPTURECHANGED"},
        {WM_DISPLAYCHANGE, "WM_DISPLAYCHANGE"},
        {WM_POWERBROADCAST, "WM_POWERBROADCAST"},
        {0x036A, "WM_KICKIDLE"},
    };
    for (const auto& [id, name] : kNames) {
        if (id == message) {
            return name;
        }
    }
    std::ostringstream out;
    out << "0x" << std::hex << message;
    return out.str();
}

inline std::string Describe(const Win32Test::Message& m)
{
    std::ostringstream out;
    out << Name(m.message) << (m.sent ? " sent" : " posted") << " wParam 0x" << std::hex << m.wParam
        << " lParam 0x" << m.lParam << " window " << m.window;
    return out.str();
}

inline std::string Describe(const Expected& e)
{
    std::ostringstream out;
    out << Name(e.message);
    if (e.flags & kSent) {
        out << " sent";
    }
    if (e.flags & kPosted) {
        out << " posted";
    }
    if (e.flags & kWParam) {
        out << " wParam 0x" << std::hex << e.wParam;
    }
    if (e.flags & kLParam) {
        out << " lParam 0x" << std::hex << e.lParam;
    }
    if (e.flags & kOptional) {
        out << " (optional)";
    }
    return out.str();
}

inline bool Matches(const Win32Test::Message& m, const Expected& e)
{
    return m.message == e.message && (!(e.flags & kSent) || m.sent) &&
           (!(e.flags & kPosted) || !m.sent) && (!(e.flags & kWParam) || m.wParam == e.wParam) &&
           (!(e.flags & kLParam) || m.lParam == e.lParam) &&
           (e.window == nullptr || m.window == e.window);
}

// Messages in `ignored` are skipped in what was received.
inline ::testing::AssertionResult MatchSequence(const std::vector<Win32Test::Message>& received,
                                                const std::vector<Expected>& expected,
                                                const std::set<UINT>& ignored = {})
{
    std::vector<Win32Test::Message> seen;
    for (const auto& m : received) {
        if (ignored.count(m.message) == 0) {
            seen.push_back(m);
        }
    }
    size_t at = 0;
    for (size_t row = 0; row < expected.size(); ++row) {
        const Expected& e = expected[row];
        if (at < seen.size() && Matches(seen[at], e)) {
            ++at;
            continue;
        }
        if (e.flags & kOptional) {
            continue;
        }
        return ::testing::AssertionFailure()
               << "row " << row << ": expected " << Describe(e) << ", got "
               << (at < seen.size() ? Describe(seen[at]) : std::string("nothing more"));
    }
    if (at < seen.size()) {
        return ::testing::AssertionFailure()
               << "after the last row: unexpected " << Describe(seen[at]);
    }
    return ::testing::AssertionSuccess();
}

}  // namespace MessageSequence
