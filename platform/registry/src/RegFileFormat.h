// What the .reg reader and writer agree on.
#pragma once

#include <cstddef>
#include <string_view>

namespace Platform::Registry::RegFormat {

inline constexpr std::u16string_view kHeader = u"Windows Registry Editor Version 5.00";
inline constexpr size_t kMaxFileBytes = 64u << 20;
inline constexpr size_t kMaxValueBytes = 1u << 20;
inline constexpr size_t kMaxKeyNameChars = 255;
inline constexpr size_t kMaxValueNameChars = 16383;

inline constexpr std::u16string_view kHives[] = {u"HKEY_LOCAL_MACHINE", u"HKEY_CURRENT_USER"};

}  // namespace Platform::Registry::RegFormat
