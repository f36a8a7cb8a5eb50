// The debug console. Here the console is the terminal the process already has: its standard
// streams keep their descriptors and are made unbuffered, and the channel writes to stderr.
#include <windows.h>

#include <cstdio>
#include <iostream>
#include <streambuf>
#include <string>

#include "System/DebugOutput.h"
#include "System/WideText.h"

namespace Orv {
namespace {

constexpr SHORT kConsoleLines = 500;

// Wide text for stderr as UTF-8. std::wcerr cannot be used on the same FILE as std::cerr here:
// the first wide write fixes stderr to wide characters and every later narrow write is lost.
class Utf8ErrorBuf : public std::wstreambuf
{
protected:
    int_type overflow(int_type character) override
    {
        if (traits_type::eq_int_type(character, traits_type::eof())) {
            return traits_type::not_eof(character);
        }
        const wchar_t one = traits_type::to_char_type(character);
        Write(std::wstring_view(&one, 1));
        return character;
    }

    std::streamsize xsputn(const wchar_t* data, std::streamsize count) override
    {
        Write(std::wstring_view(data, static_cast<size_t>(count)));
        return count;
    }

private:
    static void Write(std::wstring_view text)
    {
        const std::string utf8 = WideTextToUtf8(text);
        std::fwrite(utf8.data(), 1, utf8.size(), stderr);
    }
};

std::wostream& WideErrorStream()
{
    static Utf8ErrorBuf buffer;
    static std::wostream stream(&buffer);
    return stream;
}

}  // namespace

void OpenDebugConsole()
{
    AllocConsole();
    const HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (GetConsoleScreenBufferInfo(output, &info)) {
        info.dwSize.Y = kConsoleLines;
        SetConsoleScreenBufferSize(output, info.dwSize);
    }
    for (FILE* stream : {stdout, stdin, stderr}) {
        std::setvbuf(stream, nullptr, _IONBF, 0);
    }
    std::ios::sync_with_stdio(true);

    DebugLogTarget& target = GetDebugLogTarget();
    target.narrowOutput = &std::cerr;
    target.wideOutput = &WideErrorStream();
}

}  // namespace Orv
