#include "ObjectBase/SourceName.h"

#include <cxxabi.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <memory>
#include <utility>
#include <vector>

namespace Orv::Detail {
namespace {

std::string_view Trim(std::string_view text)
{
    while (!text.empty() && text.front() == ' ') {
        text.remove_prefix(1);
    }
    while (!text.empty() && text.back() == ' ') {
        text.remove_suffix(1);
    }
    return text;
}

bool IsIdentifierChar(char c)
{
    return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '_';
}

// Splits at `separator` where no bracket of any kind is open.
std::vector<std::string_view> SplitTopLevel(std::string_view text, char separator)
{
    std::vector<std::string_view> parts;
    int depth = 0;
    std::size_t begin = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '<' || c == '(' || c == '[') {
            ++depth;
        } else if (c == '>' || c == ')' || c == ']') {
            --depth;
        } else if (c == separator && depth == 0) {
            parts.push_back(Trim(text.substr(begin, i - begin)));
            begin = i + 1;
        }
    }
    parts.push_back(Trim(text.substr(begin)));
    return parts;
}

bool IsFundamentalOrValue(std::string_view name)
{
    if (name.empty()) {
        return true;
    }
    const char first = name.front();
    if (std::isdigit(static_cast<unsigned char>(first)) != 0 || first == '-' || first == '(' ||
        first == '\'' || name == "true" || name == "false") {
        return true;
    }
    static constexpr std::string_view kFundamentalWords[] = {
        "void",     "bool",  "char",     "signed",  "unsigned", "short",    "int",
        "long",     "float", "double",   "wchar_t", "char8_t",  "char16_t", "char32_t",
        "__int128", "const", "volatile", "*",       "&",        "&&"};
    std::size_t i = 0;
    while (i < name.size()) {
        while (i < name.size() && name[i] == ' ') {
            ++i;
        }
        std::size_t end = i;
        if (end < name.size() && IsIdentifierChar(name[end])) {
            while (end < name.size() && IsIdentifierChar(name[end])) {
                ++end;
            }
        } else {
            while (end < name.size() && name[end] != ' ' && !IsIdentifierChar(name[end])) {
                ++end;
            }
        }
        if (end == i) {
            break;
        }
        const std::string_view word = name.substr(i, end - i);
        bool known = false;
        for (std::string_view fundamental : kFundamentalWords) {
            known = known || word == fundamental;
        }
        if (!known) {
            return false;
        }
        i = end;
    }
    return true;
}

bool HasClassKey(std::string_view name)
{
    for (std::string_view key : {"class ", "struct ", "enum ", "union "}) {
        if (name.substr(0, key.size()) == key) {
            return true;
        }
    }
    return false;
}

// The framework's class templates with default arguments, and those arguments as the messages
// spell them. The compiler's function-name macro leaves trailing default arguments out of the
// argument lists it prints ("Orv::LWrapper<Orv::ParamValues>"); the messages name every argument.
// A template that gains a default argument gets its row here; the tests compare every row with
// the full name the run-time type information gives.
struct DefaultArguments
{
    std::string_view templateName;
    std::size_t parameterCount;
    std::string_view defaults[2];  // for the last parameters, in order
    std::size_t defaultCount;
};
constexpr DefaultArguments kDefaultArguments[] = {
    {"Orv::LWrapper", 2, {"class Orv::LRefCountedObject"}, 1},
    {"Orv::ConstRCPtrArray", 3, {"1", "0"}, 2},
    {"Orv::RCPtrArray", 3, {"1", "0"}, 2},
    {"Orv::LRCPtrArray", 3, {"1", "0"}, 2},
};

// "1u" and "256ul", as the demangler spells integer arguments, read "1" and "256".
std::string_view WithoutIntegerSuffix(std::string_view argument)
{
    std::size_t digits = argument.substr(0, 1) == "-" ? 1 : 0;
    const std::size_t start = digits;
    while (digits < argument.size() && std::isdigit(static_cast<unsigned char>(argument[digits]))) {
        ++digits;
    }
    if (digits == start) {
        return argument;
    }
    for (std::size_t i = digits; i < argument.size(); ++i) {
        const char c = argument[i];
        if (c != 'u' && c != 'U' && c != 'l' && c != 'L') {
            return argument;
        }
    }
    return argument.substr(0, digits);
}

// Appends the defaults of the arguments that `given` arguments leave out.
void AppendDefaultArguments(std::string_view templateName, std::size_t given, std::string& out)
{
    for (const DefaultArguments& row : kDefaultArguments) {
        if (row.templateName != templateName) {
            continue;
        }
        const std::size_t firstDefault = row.parameterCount - row.defaultCount;
        for (std::size_t i = std::max(given, firstDefault); i < row.parameterCount; ++i) {
            out += ',';
            out += row.defaults[i - firstDefault];
        }
        return;
    }
}

// Formats the arguments of every template argument list of `name` (not the name itself).
std::string FormatTemplateArguments(std::string_view name)
{
    const std::size_t open = name.find('<');
    if (open == std::string_view::npos) {
        return std::string(name);
    }
    int depth = 0;
    std::size_t close = std::string_view::npos;
    for (std::size_t i = open; i < name.size(); ++i) {
        if (name[i] == '<') {
            ++depth;
        } else if (name[i] == '>' && --depth == 0) {
            close = i;
            break;
        }
    }
    if (close == std::string_view::npos) {
        return std::string(name);
    }
    std::string result(name.substr(0, open + 1));
    const auto arguments = SplitTopLevel(name.substr(open + 1, close - open - 1), ',');
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        if (i != 0) {
            result += ',';
        }
        result += ClassKeyTypeName(WithoutIntegerSuffix(arguments[i]));
    }
    AppendDefaultArguments(Trim(name.substr(0, open)), arguments.size(), result);
    result += '>';
    result += FormatTemplateArguments(name.substr(close + 1));
    return result;
}

std::string SubstituteParameters(std::string_view name,
                                 const std::vector<std::pair<std::string, std::string>>& bindings)
{
    std::string result;
    int depth = 0;
    std::size_t i = 0;
    while (i < name.size()) {
        const char c = name[i];
        if (c == '<') {
            ++depth;
        } else if (c == '>') {
            --depth;
        }
        if (depth > 0 && IsIdentifierChar(c) && (i == 0 || !IsIdentifierChar(name[i - 1]))) {
            std::size_t end = i;
            while (end < name.size() && IsIdentifierChar(name[end])) {
                ++end;
            }
            const std::string_view token = name.substr(i, end - i);
            const bool qualified = i >= 2 && name.substr(i - 2, 2) == "::";
            bool replaced = false;
            for (const auto& [key, value] : bindings) {
                if (!qualified && token == key) {
                    result += value;
                    replaced = true;
                    break;
                }
            }
            if (!replaced) {
                result += token;
            }
            i = end;
            continue;
        }
        if (c == ' ' && depth > 0 && !result.empty() &&
            (result.back() == ',' || result.back() == '<')) {
            ++i;
            continue;
        }
        result += c;
        ++i;
    }
    return result;
}

}  // namespace

std::string ClassKeyTypeName(std::string_view demangled)
{
    const std::string_view name = Trim(demangled);
    if (IsFundamentalOrValue(name) || HasClassKey(name)) {
        return std::string(name);
    }
    return "class " + FormatTemplateArguments(name);
}

std::string RuntimeTypeName(const std::type_info& type)
{
    int status = 0;
    std::unique_ptr<char, void (*)(void*)> demangled(
        abi::__cxa_demangle(type.name(), nullptr, nullptr, &status), std::free);
    return ClassKeyTypeName(status == 0 && demangled ? demangled.get() : type.name());
}

std::string QualifiedFunctionName(std::string_view pretty)
{
    std::string_view signature = pretty;
    std::vector<std::pair<std::string, std::string>> bindings;
    const std::size_t with = pretty.rfind(" [with ");
    if (with != std::string_view::npos && pretty.back() == ']') {
        signature = pretty.substr(0, with);
        const std::string_view list = pretty.substr(with + 7, pretty.size() - with - 8);
        for (std::string_view binding : SplitTopLevel(list, ';')) {
            const std::size_t equals = binding.find(" = ");
            if (equals == std::string_view::npos) {
                continue;
            }
            const std::string_view declaration = Trim(binding.substr(0, equals));
            const std::string_view value = Trim(binding.substr(equals + 3));
            const std::size_t space = declaration.rfind(' ');
            // "T = X" binds a type; "long unsigned int N = 256" binds a value.
            const bool isType = space == std::string_view::npos;
            const std::string_view key = isType ? declaration : declaration.substr(space + 1);
            bindings.emplace_back(std::string(key),
                                  isType ? ClassKeyTypeName(value) : std::string(value));
        }
    }

    // The parameter list is the last balanced "(...)"; the name runs back from it to a blank
    // outside any brackets (the blank after the return type), "operator bool" excepted.
    const std::size_t lastClose = signature.rfind(')');
    if (lastClose == std::string_view::npos) {
        return std::string(signature);
    }
    std::size_t open = lastClose;
    for (int depth = 0;; --open) {
        if (signature[open] == ')') {
            ++depth;
        } else if (signature[open] == '(' && --depth == 0) {
            break;
        }
        if (open == 0) {
            return std::string(signature);
        }
    }
    std::size_t start = open;
    for (int depth = 0; start > 0; --start) {
        const char c = signature[start - 1];
        if (c == '>' || c == ')') {
            ++depth;
        } else if (c == '<' || c == '(') {
            --depth;
        } else if (c == ' ' && depth == 0) {
            const std::string_view before = signature.substr(0, start - 1);
            if (before.size() < 8 || before.substr(before.size() - 8) != "operator") {
                break;
            }
        }
    }
    // clang names a class template's members with the arguments already in place and lists no
    // bindings for them, so the class keys are added to whatever arguments the name holds.
    return FormatTemplateArguments(
        SubstituteParameters(signature.substr(start, open - start), bindings));
}

}  // namespace Orv::Detail
