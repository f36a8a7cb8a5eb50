#pragma once
// UTF-16 text of the API to the UTF-8 that Linux takes, inside this layer only.

#include <string>
#include <string_view>

namespace Win32Internal {

// A lone surrogate becomes U+FFFD, so the result is always valid UTF-8.
std::string Utf16ToUtf8(std::u16string_view text);

// The text up to its terminating NUL; an empty view for a null pointer.
std::u16string_view TerminatedView(const char16_t* text);

}  // namespace Win32Internal
