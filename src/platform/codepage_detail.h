// The pieces of the code page rules that the platforms' converters share (codepage.cpp).
#pragma once

#include <string>
#include <string_view>

namespace ovik::platform::codepage_detail {

inline constexpr std::string_view kUtf8 = "UTF-8";

// The codeset name without case and "-"/"_", as iconv compares names: "Shift_JIS" -> "SHIFTJIS".
std::string normalized(std::string_view codeset);

// UTF-8 with every invalid sequence replaced by "?"; valid input is copied in one piece.
std::string sanitized_utf8(std::string_view text);

// Whether a normalized name means Shift_JIS, which converts as code page 932 (see codepage.h).
bool names_shift_jis(const std::string& normalized_name);

}  // namespace ovik::platform::codepage_detail
