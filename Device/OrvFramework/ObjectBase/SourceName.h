#pragma once
// Names that exception texts carry: the throwing statement's source file (derived at compile time
// from __FILE__) and the throwing function's qualified name (derived from __PRETTY_FUNCTION__).

#include <cstddef>
#include <string>
#include <string_view>
#include <typeinfo>

namespace Orv::Detail {

template <std::size_t N>
struct SourceFileText
{
    // Room for the "..\..\" that sources outside the program's own folder receive.
    char text[N + 8]{};
};

consteval bool MatchesAt(const char* text, std::size_t size, std::size_t at, std::string_view what)
{
    if (at + what.size() > size) {
        return false;
    }
    for (std::size_t i = 0; i < what.size(); ++i) {
        if (text[at + i] != what[i]) {
            return false;
        }
    }
    return true;
}

// The file as the panel's messages name it: relative to the framework folder for framework
// sources, relative to the program's folder (Device/Panel/Panel) for everything else under
// Device/, without extension, with backslashes: "Utilities\Storage\OrvFile",
// "..\..\DeviceControl\GeneratedCode\Engine\Src\AudioStatus".
template <std::size_t N>
consteval SourceFileText<N> MakeSourceFileText(const char (&file)[N])
{
    const std::size_t size = N - 1;
    std::size_t start = 0;
    std::string_view prefix;
    bool found = false;
    for (std::size_t i = 0; i < size; ++i) {
        if ((i != 0 && file[i - 1] != '/') || !MatchesAt(file, size, i, "Device/")) {
            continue;
        }
        const std::size_t rest = i + 7;
        if (MatchesAt(file, size, rest, "OrvFramework/")) {
            start = rest + 13, prefix = "", found = true;
        } else if (MatchesAt(file, size, rest, "Panel/Panel/")) {
            start = rest + 12, prefix = "", found = true;
        } else if (MatchesAt(file, size, rest, "DeviceControl/")) {
            start = rest, prefix = "../../", found = true;
        }
    }
    if (!found) {
        start = 0;
    }
    std::size_t end = size;
    for (std::size_t i = size; i > start; --i) {
        if (file[i - 1] == '/') {
            break;
        }
        if (file[i - 1] == '.') {
            end = i - 1;
            break;
        }
    }
    SourceFileText<N> result;
    std::size_t out = 0;
    for (char c : prefix) {
        result.text[out++] = c == '/' ? '\\' : c;
    }
    for (std::size_t i = start; i < end; ++i) {
        result.text[out++] = file[i] == '/' ? '\\' : file[i];
    }
    result.text[out] = '\0';
    return result;
}

// "T Orv::RCPtrQueue<T, N>::Dequeue() [with T = Orv::LNotification; long unsigned int N = 256]"
// becomes "Orv::RCPtrQueue<class Orv::LNotification,256>::Dequeue": return type, parameters and
// qualifiers dropped, template parameters replaced by their arguments, class types with "class ".
std::string QualifiedFunctionName(std::string_view prettyFunction);

// A demangled type name as the messages spell it: "class Orv::LHolder<int>".
std::string ClassKeyTypeName(std::string_view demangled);

// The run-time type name of a type: "class Orv::LRefCountedObject".
std::string RuntimeTypeName(const std::type_info& type);

}  // namespace Orv::Detail

// The current source file, as a constant NUL-terminated text.
#define ORV_THIS_FILE                                                                      \
    ([]() -> const char* {                                                                 \
        static constexpr auto orvSourceFile = ::Orv::Detail::MakeSourceFileText(__FILE__); \
        return orvSourceFile.text;                                                         \
    }())
