// The narrow code page on Windows: the process's ANSI code page (CP_ACP), converted by the system.
#include <windows.h>

#include <charconv>
#include <string>

#include "platform/codepage.h"
#include "platform/codepage_detail.h"

namespace ovik::platform {

namespace {

using codepage_detail::kUtf8;
using codepage_detail::names_shift_jis;
using codepage_detail::normalized;
using codepage_detail::sanitized_utf8;

std::string codeset_of(UINT code_page) {
  return code_page == CP_UTF8 ? std::string(kUtf8) : "CP" + std::to_string(code_page);
}

// The code page a codeset name stands for; 0 when Windows has none for it.
UINT code_page_of(std::string_view codeset) {
  const std::string n = normalized(codeset);
  if (n == "UTF8") return CP_UTF8;
  if (names_shift_jis(n) || n == "WINDOWS31J" || n == "MS932" || n == "SJISWIN" || n == "SJISOPEN")
    return 932;
  if (n == "EUCJP") return 20932;
  if (n == "EUCKR") return 51949;
  if (n == "GBK") return 936;
  if (n == "GB18030") return 54936;
  if (n == "BIG5") return 950;
  if (n == "ASCII" || n == "ANSIX3.41968") return 20127;
  if (n.starts_with("ISO8859") && n.size() > 7) {
    unsigned part = 0;
    if (std::from_chars(n.data() + 7, n.data() + n.size(), part).ec == std::errc() && part >= 1 && part <= 15)
      return 28590 + part;
  }
  for (std::string_view prefix : {"CP", "WINDOWS", "MS", "IBM"}) {
    if (!n.starts_with(prefix)) continue;
    unsigned number = 0;
    const char* end = n.data() + n.size();
    const auto [at, ec] = std::from_chars(n.data() + prefix.size(), end, number);
    if (ec == std::errc() && at == end && ::IsValidCodePage(number)) return number;
  }
  return 0;
}

// Code pages that take no flags in WideCharToMultiByte (the stateful and the UTF ones).
bool takes_no_flags(UINT code_page) {
  return code_page == 42 || (code_page >= 50220 && code_page <= 50229) || code_page == 52936 ||
         code_page == 54936 || (code_page >= 57002 && code_page <= 57011) || code_page == 65000;
}

std::wstring wide_of_utf8(std::string_view utf8) {
  std::wstring wide;
  const int n = ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  if (n <= 0) return wide;
  wide.resize(static_cast<std::size_t>(n));
  ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), n);
  return wide;
}

std::string utf8_of_wide(std::wstring_view wide) {
  std::string out;
  const int n = ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0,
                                      nullptr, nullptr);
  if (n <= 0) return out;
  out.resize(static_cast<std::size_t>(n));
  ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), out.data(), n, nullptr,
                        nullptr);
  return out;
}

// UTF-8 into the code page; an unmappable character becomes "?", never a look-alike (no best fit).
std::string narrow_of_utf8(std::string_view utf8, UINT code_page) {
  const std::string valid = sanitized_utf8(utf8);
  if (valid.empty()) return valid;
  const std::wstring wide = wide_of_utf8(valid);
  const DWORD flags = takes_no_flags(code_page) ? 0 : WC_NO_BEST_FIT_CHARS;
  const char* replacement = flags != 0 ? "?" : nullptr;
  const int size = static_cast<int>(wide.size());
  const int n = ::WideCharToMultiByte(code_page, flags, wide.data(), size, nullptr, 0, replacement, nullptr);
  if (n <= 0) return valid;
  std::string out(static_cast<std::size_t>(n), '\0');
  ::WideCharToMultiByte(code_page, flags, wide.data(), size, out.data(), n, replacement, nullptr);
  return out;
}

// Bytes of the code page into UTF-8. A byte sequence the code page does not define becomes "?"
// (the system's own stand-in would be a look-alike such as U+30FB), skipped character by character
// as `scheme` groups the bytes.
std::string utf8_of_narrow(std::string_view bytes, UINT code_page, CharScheme scheme) {
  if (bytes.empty()) return {};
  auto decode = [&](std::string_view piece, std::wstring& wide) {
    const int size = static_cast<int>(piece.size());
    const int n = ::MultiByteToWideChar(code_page, MB_ERR_INVALID_CHARS, piece.data(), size, nullptr, 0);
    if (n <= 0) return false;
    const std::size_t at = wide.size();
    wide.resize(at + static_cast<std::size_t>(n));
    ::MultiByteToWideChar(code_page, MB_ERR_INVALID_CHARS, piece.data(), size, wide.data() + at, n);
    return true;
  };
  std::wstring wide;
  if (!decode(bytes, wide)) {
    wide.clear();
    for (std::size_t pos = 0; pos < bytes.size();) {
      const std::size_t length = narrow_char_length(bytes, pos, scheme);
      if (!decode(bytes.substr(pos, length), wide)) wide.push_back(L'?');
      pos += length;
    }
  }
  return utf8_of_wide(wide);
}

UINT process_code_page() {
  static const UINT code_page = ::GetACP();
  return code_page;
}

}  // namespace

std::string codeset_for_locale(const char* locale_name) {
  if (locale_name == nullptr || locale_name[0] == '\0') return narrow_codeset();
  std::wstring name;
  for (const char* c = locale_name; *c != '\0'; ++c) name.push_back(static_cast<unsigned char>(*c));
  DWORD code_page = 0;
  if (::GetLocaleInfoEx(name.c_str(), LOCALE_IDEFAULTANSICODEPAGE | LOCALE_RETURN_NUMBER,
                        reinterpret_cast<LPWSTR>(&code_page), sizeof code_page / sizeof(wchar_t)) == 0 ||
      code_page == CP_ACP) {
    return std::string(kUtf8);  // no such locale, or one without an ANSI code page (Unicode only)
  }
  return codeset_of(code_page);
}

std::string narrow_codeset() { return codeset_of(process_code_page()); }

CharScheme narrow_scheme() {
  static const CharScheme scheme = char_scheme(narrow_codeset());
  return scheme;
}

std::string to_narrow(std::string_view utf8, std::string_view codeset) {
  const UINT code_page = code_page_of(codeset);
  // An unknown codeset cannot be honoured; valid UTF-8 is the least surprising stand-in.
  if (code_page == 0 || code_page == CP_UTF8) return sanitized_utf8(utf8);
  return narrow_of_utf8(utf8, code_page);
}

std::string from_narrow(std::string_view bytes, std::string_view codeset) {
  const UINT code_page = code_page_of(codeset);
  if (code_page == 0 || code_page == CP_UTF8) return sanitized_utf8(bytes);
  return utf8_of_narrow(bytes, code_page, char_scheme(codeset));
}

std::string to_narrow(std::string_view utf8) {
  if (narrow_scheme() == CharScheme::utf8) return sanitized_utf8(utf8);
  return narrow_of_utf8(utf8, process_code_page());
}

std::string from_narrow(std::string_view bytes) {
  if (narrow_scheme() == CharScheme::utf8) return sanitized_utf8(bytes);
  return utf8_of_narrow(bytes, process_code_page(), narrow_scheme());
}

}  // namespace ovik::platform
