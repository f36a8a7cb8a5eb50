#pragma once
// The standard library's wide text (wchar_t, UTF-32 here) as the UTF-16 of the platform and the
// UTF-8 of narrow output. Code points that UTF-16 cannot carry become U+FFFD.

#include <string>
#include <string_view>

namespace Orv {

std::u16string WideTextToUtf16(std::wstring_view text);
std::string WideTextToUtf8(std::wstring_view text);

}  // namespace Orv
