// Profile reading and writing on arbitrary file content, plus the code page conversions.
//
// Input: one flag byte, then section, key and value each ended by "\n", then the file content.
// Flags: bit 0 null section, bit 1 null key, bit 2 null value, bit 3 CP932 (else UTF-8),
// bits 4-7 the buffer size (0 to 150 in steps of 10).
//
// Beyond "no crash, no out-of-bounds access" it checks what callers rely on: results stay inside the
// buffer, a value written reads back, a deleted section is gone, and conversion yields valid UTF-8.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/codepage.h"
#include "platform/profile.h"

namespace {

using ovik::platform::CharScheme;

constexpr const char* kDefault = "<default>";

void check(bool condition) {
  if (!condition) std::abort();
}

std::string_view take_line(std::string_view& rest) {
  const std::size_t eol = rest.find('\n');
  const std::string_view line = rest.substr(0, eol);
  rest.remove_prefix(eol == std::string_view::npos ? rest.size() : eol + 1);
  return line;
}

// What reading gives for a value as written: blanks trimmed, one outer quote pair removed.
std::string_view as_read(std::string_view v) {
  while (!v.empty() && (v.front() == ' ' || v.front() == '\t')) v.remove_prefix(1);
  while (!v.empty() && (v.back() == ' ' || v.back() == '\t')) v.remove_suffix(1);
  if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front()) {
    v = v.substr(1, v.size() - 2);
  }
  return v;
}

std::string get(std::string_view content, const char* section, const char* key, std::size_t size,
                CharScheme scheme) {
  // Exactly `size` bytes on the heap, so the sanitizer sees any write past the end.
  std::vector<char> buffer(size);
  const std::size_t n = ovik::platform::get_profile_string_from_memory(content, section, key, kDefault,
                                                                       buffer.data(), size, scheme);
  if (size == 0) {
    check(n == 0);
    return {};
  }
  check(n < size);
  check(buffer[n] == '\0');
  return std::string(buffer.data(), n);
}

bool valid_utf8(std::string_view s) {
  for (std::size_t pos = 0; pos < s.size();) {
    const std::size_t n = ovik::platform::utf8_sequence_length(s, pos);
    if (n == 0) return false;
    pos += n;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const unsigned flags = data[0];
  std::string_view rest(reinterpret_cast<const char*>(data) + 1, size - 1);
  // C strings end at the first NUL, as they would for any caller.
  std::string_view section_view = take_line(rest);
  const std::string section_name(section_view.substr(0, section_view.find('\0')));
  std::string_view key_view = take_line(rest);
  const std::string key_name(key_view.substr(0, key_view.find('\0')));
  std::string_view value_view = take_line(rest);
  const std::string value(value_view.substr(0, value_view.find('\0')));
  const std::string_view content = rest;

  const char* s = (flags & 1) ? nullptr : section_name.c_str();
  const char* k = (flags & 2) ? nullptr : key_name.c_str();
  const char* v = (flags & 4) ? nullptr : value.c_str();
  const CharScheme scheme = (flags & 8) ? CharScheme::shift_jis : CharScheme::utf8;
  const char* codeset = (flags & 8) ? "CP932" : "UTF-8";
  const std::size_t buffer_size = (flags >> 4) * 10;

  const std::string read = get(content, s, k, buffer_size, scheme);
  if (s != nullptr && k != nullptr) check(read.find('\0') == std::string::npos);
  check(valid_utf8(ovik::platform::from_narrow(read, codeset)));

  const std::optional<std::string> written =
      ovik::platform::write_profile_string_in_memory(content, s, k, v, scheme);
  if (written && s != nullptr) {
    if (k != nullptr && v != nullptr) {
      const std::string_view expected = as_read(v);
      check(get(*written, s, k, expected.size() + 1, scheme) == expected);
    } else if (k == nullptr) {
      check(get(*written, s, "anything", 64, scheme) == kDefault);
    }
  }

  if (content.size() <= 4096) {
    check(valid_utf8(ovik::platform::from_narrow(content, codeset)));
    const std::string narrow = ovik::platform::to_narrow(content, codeset);
    const std::size_t cut = ovik::platform::narrow_cut(narrow, buffer_size, scheme);
    check(cut <= buffer_size && cut <= narrow.size());
  }
  return 0;
}
