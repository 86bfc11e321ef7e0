// What the code page converters of both platforms share: the character schemes and the byte
// scanners. The conversions themselves are in codepage_posix.cpp and codepage_win32.cpp.
#include "platform/codepage.h"

#include "platform/codepage_detail.h"

namespace ovik::platform {

namespace codepage_detail {

// Codeset names are matched the way iconv matches them: case and "-"/"_" do not matter.
std::string normalized(std::string_view codeset) {
  std::string out;
  out.reserve(codeset.size());
  for (char c : codeset) {
    if (c == '-' || c == '_') continue;
    out.push_back((c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c);
  }
  return out;
}

}  // namespace codepage_detail

namespace {

bool in(unsigned char c, unsigned lo, unsigned hi) { return c >= lo && c <= hi; }

bool is_continuation(unsigned char c) { return (c & 0xC0) == 0x80; }

}  // namespace

namespace codepage_detail {

// Replaces every invalid sequence by "?"; valid input is copied in one piece.
std::string sanitized_utf8(std::string_view text) {
  std::size_t pos = 0;
  // ASCII needs no decoding: skip it a byte at a time without the sequence decoder.
  while (pos < text.size()) {
    if (static_cast<unsigned char>(text[pos]) < 0x80) {
      ++pos;
      continue;
    }
    std::size_t n = utf8_sequence_length(text, pos);
    if (n == 0) break;
    pos += n;
  }
  if (pos == text.size()) return std::string(text);
  std::string out(text.substr(0, pos));
  out.reserve(text.size());
  while (pos < text.size()) {
    std::size_t n = utf8_sequence_length(text, pos);
    if (n == 0) {
      out.push_back('?');
      n = 1;
    } else {
      out.append(text.substr(pos, n));
    }
    pos += n;
  }
  return out;
}

// The names under which a locale or a caller may mean Shift_JIS. The files of the installations this
// library serves are code page 932, so every one of them converts as CP932: the strict JIS tables
// would read "\" as a yen sign, "~" as an overline and drop the code page's own characters.
bool names_shift_jis(const std::string& n) {
  return n == "SHIFTJIS" || n == "SJIS" || n == "MSKANJI" || n == "CSSHIFTJIS" || n == "SHIFTJISX0213";
}

}  // namespace codepage_detail

using codepage_detail::names_shift_jis;
using codepage_detail::normalized;

CharScheme char_scheme(std::string_view codeset) {
  const std::string n = normalized(codeset);
  if (n == "UTF8") return CharScheme::utf8;
  if (names_shift_jis(n) || n == "CP932" || n == "WINDOWS31J" || n == "CSWINDOWS31J" || n == "MS932" ||
      n == "SJISWIN" || n == "SJISOPEN" || n == "IBM943" || n == "IBM932") {
    return CharScheme::shift_jis;
  }
  if (n == "GBK" || n == "CP936" || n == "GB18030" || n == "BIG5" || n == "BIG5HKSCS" || n == "CP950" ||
      n == "CP949" || n == "UHC" || n == "JOHAB" || n == "MS936" || n == "WINDOWS936") {
    return CharScheme::double_byte;
  }
  if (n.rfind("EUC", 0) == 0) return CharScheme::euc;
  return CharScheme::single_byte;
}

std::size_t utf8_sequence_length(std::string_view bytes, std::size_t pos) {
  const std::size_t left = bytes.size() - pos;
  const auto b = [&](std::size_t i) { return static_cast<unsigned char>(bytes[pos + i]); };
  const unsigned char c = b(0);
  if (c < 0x80) return 1;
  if (in(c, 0xC2, 0xDF)) return left >= 2 && is_continuation(b(1)) ? 2 : 0;
  if (in(c, 0xE0, 0xEF)) {
    if (left < 3) return 0;
    const unsigned lo = c == 0xE0 ? 0xA0 : 0x80;  // no overlong forms
    const unsigned hi = c == 0xED ? 0x9F : 0xBF;  // no surrogates
    return in(b(1), lo, hi) && is_continuation(b(2)) ? 3 : 0;
  }
  if (in(c, 0xF0, 0xF4)) {
    if (left < 4) return 0;
    const unsigned lo = c == 0xF0 ? 0x90 : 0x80;
    const unsigned hi = c == 0xF4 ? 0x8F : 0xBF;  // nothing above U+10FFFF
    return in(b(1), lo, hi) && is_continuation(b(2)) && is_continuation(b(3)) ? 4 : 0;
  }
  return 0;
}

std::size_t narrow_char_length(std::string_view bytes, std::size_t pos, CharScheme scheme) {
  const unsigned char c = static_cast<unsigned char>(bytes[pos]);
  if (c < 0x80) return 1;
  const std::size_t left = bytes.size() - pos;
  const auto b = [&](std::size_t i) { return static_cast<unsigned char>(bytes[pos + i]); };
  switch (scheme) {
    case CharScheme::single_byte:
      return 1;
    case CharScheme::utf8: {
      std::size_t n = utf8_sequence_length(bytes, pos);
      return n == 0 ? 1 : n;
    }
    case CharScheme::shift_jis:
      if ((in(c, 0x81, 0x9F) || in(c, 0xE0, 0xFC)) && left >= 2 &&
          (in(b(1), 0x40, 0x7E) || in(b(1), 0x80, 0xFC))) {
        return 2;
      }
      return 1;
    case CharScheme::double_byte:
      if (!in(c, 0x81, 0xFE) || left < 2) return 1;
      if (in(b(1), 0x30, 0x39)) {  // GB18030 four-byte form
        return left >= 4 && in(b(2), 0x81, 0xFE) && in(b(3), 0x30, 0x39) ? 4 : 1;
      }
      return in(b(1), 0x40, 0x7E) || in(b(1), 0x80, 0xFE) ? 2 : 1;
    case CharScheme::euc:
      if (c == 0x8F) return left >= 3 && in(b(1), 0xA1, 0xFE) && in(b(2), 0xA1, 0xFE) ? 3 : 1;
      if (c == 0x8E) return left >= 2 && in(b(1), 0xA1, 0xFE) ? 2 : 1;
      return in(c, 0xA1, 0xFE) && left >= 2 && in(b(1), 0xA1, 0xFE) ? 2 : 1;
  }
  return 1;
}

std::size_t narrow_cut(std::string_view bytes, std::size_t max_bytes, CharScheme scheme) {
  if (max_bytes >= bytes.size()) return bytes.size();
  if (scheme == CharScheme::single_byte) return max_bytes;
  if (scheme == CharScheme::utf8) {
    // UTF-8 resynchronises backwards: find the lead byte of the character the limit falls into.
    std::size_t lead = max_bytes;
    while (lead > 0 && max_bytes - lead < 3 && is_continuation(static_cast<unsigned char>(bytes[lead]))) {
      --lead;
    }
    if (lead == max_bytes) return max_bytes;
    return lead + narrow_char_length(bytes, lead, scheme) > max_bytes ? lead : max_bytes;
  }
  // Double-byte trail bytes overlap lead bytes, so only a scan from the start is reliable.
  std::size_t pos = 0;
  while (pos < max_bytes) {
    const std::size_t n = narrow_char_length(bytes, pos, scheme);
    if (pos + n > max_bytes) break;
    pos += n;
  }
  return pos;
}

std::size_t narrow_cut(std::string_view bytes, std::size_t max_bytes) {
  return narrow_cut(bytes, max_bytes, narrow_scheme());
}

std::size_t narrow_cut(std::string_view bytes, std::size_t max_bytes, std::string_view codeset) {
  return narrow_cut(bytes, max_bytes, char_scheme(codeset));
}

}  // namespace ovik::platform
