// UTF-8 (the library's text) to and from UTF-16 (the wide Windows calls), and paths for those calls.
// Invalid input converts with U+FFFD in place of the bad sequence; nothing throws but bad_alloc.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

namespace ovik::platform::win32 {

inline std::wstring to_wide(std::string_view utf8) {
  if (utf8.empty()) return {};
  const int size = static_cast<int>(utf8.size());
  const int n = ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, nullptr, 0);
  if (n <= 0) return {};
  std::wstring out(static_cast<std::size_t>(n), L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, out.data(), n);
  return out;
}

inline std::string to_utf8(std::wstring_view wide) {
  if (wide.empty()) return {};
  const int size = static_cast<int>(wide.size());
  const int n = ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, nullptr, 0, nullptr, nullptr);
  if (n <= 0) return {};
  std::string out(static_cast<std::size_t>(n), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, out.data(), n, nullptr, nullptr);
  return out;
}

// A path of the library (UTF-8, either separator) for the wide file calls: "\" throughout, since
// some calls (the profile functions, FindFirstFile patterns) take only "\" as a folder separator.
inline std::wstring wide_path(std::string_view utf8) {
  std::wstring path = to_wide(utf8);
  for (wchar_t& c : path)
    if (c == L'/') c = L'\\';
  return path;
}

}  // namespace ovik::platform::win32
