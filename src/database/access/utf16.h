// UTF-8 <-> UTF-16 for the ODBC wide-character calls and for data-link files. Invalid input
// (a lone surrogate, a broken UTF-8 sequence) becomes U+FFFD instead of being passed on.
#pragma once

#include <string>
#include <string_view>

namespace ovik::access {

std::u16string utf8_to_utf16(std::string_view text);
std::string utf16_to_utf8(std::u16string_view text);

}  // namespace ovik::access
