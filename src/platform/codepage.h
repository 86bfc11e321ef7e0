// The narrow ("ANSI") code page: the character set of the user's locale, in which INI, log and trace
// files are written. Text inside the library is UTF-8; these functions convert at the file boundary.
//
// Contract: nothing here throws, changes the process locale or reads outside the given views. A
// character that cannot be converted (or an invalid byte sequence) becomes "?". Safe to call from any
// thread; converters are cached per thread.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace ovik::platform {

// The codeset of the user's LC_CTYPE, read once per process without touching the process locale.
// "UTF-8" when the locale is C/POSIX or cannot be read.
std::string narrow_codeset();

// The codeset that the named locale would give ("" = the user's environment), with the same fallbacks
// as narrow_codeset(). Not cached.
std::string codeset_for_locale(const char* locale_name);

// How the bytes of a codeset group into characters, as far as the byte scanners need to know.
enum class CharScheme {
  single_byte,  // every byte is a character
  utf8,
  shift_jis,    // CP932 and relatives: lead 0x81-0x9F, 0xE0-0xFC; trail bytes reach into ASCII
  double_byte,  // GBK, GB18030, Big5, UHC: lead 0x81-0xFE; trail bytes reach into ASCII
  euc           // EUC-JP, EUC-KR, EUC-CN: every byte of a multi-byte character is >= 0x80
};

// True when a trail byte may look like ASCII (a "]" or a letter inside a character), so byte scanners
// must step character by character instead of searching bytes.
constexpr bool hides_ascii(CharScheme scheme) {
  return scheme == CharScheme::shift_jis || scheme == CharScheme::double_byte;
}

CharScheme char_scheme(std::string_view codeset);

// Length in bytes of the character starting at bytes[pos] (pos < bytes.size()). An invalid or
// truncated sequence counts as one byte, so a scan always advances and never leaves the view.
std::size_t narrow_char_length(std::string_view bytes, std::size_t pos, CharScheme scheme);

// Length of the valid UTF-8 sequence at bytes[pos], or 0 when it is not valid (overlong forms,
// surrogates and code points above U+10FFFF are invalid).
std::size_t utf8_sequence_length(std::string_view bytes, std::size_t pos);

// Every spelling of Shift_JIS converts as code page 932 (iconv "CP932"), which the files of
// Japanese installations are in: "\" and "~" keep their ASCII meaning and the code page's own
// characters survive.
// Without a codeset, the process's narrow codeset; its scheme is worked out once, so these run at
// every settings lookup without classifying the codeset again.
std::string to_narrow(std::string_view utf8);
std::string to_narrow(std::string_view utf8, std::string_view codeset);
std::string from_narrow(std::string_view bytes);
std::string from_narrow(std::string_view bytes, std::string_view codeset);

// The scheme of narrow_codeset(), worked out once per process.
CharScheme narrow_scheme();

// The largest length <= max_bytes at which `bytes` can be cut without splitting a character; a
// character that the limit would split is left out whole.
std::size_t narrow_cut(std::string_view bytes, std::size_t max_bytes);
std::size_t narrow_cut(std::string_view bytes, std::size_t max_bytes, std::string_view codeset);
std::size_t narrow_cut(std::string_view bytes, std::size_t max_bytes, CharScheme scheme);

}  // namespace ovik::platform
