#include "win32/DebugOutput.h"

#include <cstdio>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "Utf16.h"
#include "Win32Test/DebugOutputSink.h"

namespace {

// Any thread may write to the debugger, so the sink has its own lock.
struct DebugSink
{
    std::mutex lock;
    std::deque<std::string> texts;
    bool echo = false;
};

DebugSink& Sink()
{
    static DebugSink sink;
    return sink;
}

void Deliver(std::string text)
{
    DebugSink& sink = Sink();
    const std::lock_guard guard(sink.lock);
    if (sink.echo) {
        std::fwrite(text.data(), 1, text.size(), stderr);
        std::fflush(stderr);
    }
    if (sink.texts.size() == Win32Test::kDebugOutputCapacity) {
        sink.texts.pop_front();
    }
    sink.texts.push_back(std::move(text));
}

}  // namespace

void WINAPI OutputDebugStringA(LPCSTR text)
{
    Deliver(text != nullptr ? std::string(text) : std::string());
}

void WINAPI OutputDebugStringW(LPCWSTR text)
{
    Deliver(Win32Internal::Utf16ToUtf8(Win32Internal::TerminatedView(text)));
}

namespace Win32Test {

std::vector<std::string> TakeDebugOutput()
{
    DebugSink& sink = Sink();
    const std::lock_guard guard(sink.lock);
    std::vector<std::string> texts(std::make_move_iterator(sink.texts.begin()),
                                   std::make_move_iterator(sink.texts.end()));
    sink.texts.clear();
    return texts;
}

void SetDebugOutputEcho(bool toStderr)
{
    DebugSink& sink = Sink();
    const std::lock_guard guard(sink.lock);
    sink.echo = toStderr;
}

}  // namespace Win32Test
