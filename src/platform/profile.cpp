// The rules of the profile functions on file content in memory; the Linux file functions are built
// on them (profile_posix.cpp), and both platforms' tests and fuzzers use them directly.
#include "platform/profile.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace ovik::platform {

namespace {

constexpr std::string_view kBom = "\xEF\xBB\xBF";
constexpr std::string_view kCrLf = "\r\n";

bool is_blank(char c) { return c == ' ' || c == '\t'; }

std::string_view trim(std::string_view s) {
  std::size_t b = 0;
  std::size_t e = s.size();
  while (b < e && is_blank(s[b])) ++b;
  while (e > b && is_blank(s[e - 1])) --e;
  return s.substr(b, e - b);
}

// A NUL ends the meaningful part of a line: names and values never hold one.
std::string_view cut_at_nul(std::string_view s) {
  const void* p = std::memchr(s.data(), '\0', s.size());
  return p == nullptr ? s : s.substr(0, static_cast<std::size_t>(static_cast<const char*>(p) - s.data()));
}

std::size_t find_byte(std::string_view s, char c, std::size_t from) {
  if (from >= s.size()) return s.size();
  const void* p = std::memchr(s.data() + from, c, s.size() - from);
  return p == nullptr ? s.size() : static_cast<std::size_t>(static_cast<const char*>(p) - s.data());
}

char ascii_upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

// Both names already trimmed. Letters are folded only where they stand as characters of their own.
bool names_equal(std::string_view a, std::string_view b, CharScheme scheme) {
  if (a.size() != b.size()) return false;
  if (!hides_ascii(scheme)) {
    for (std::size_t i = 0; i < a.size(); ++i) {
      if (a[i] != b[i] && ascii_upper(a[i]) != ascii_upper(b[i])) return false;
    }
    return true;
  }
  for (std::size_t i = 0; i < a.size();) {
    const std::size_t n = narrow_char_length(a, i, scheme);
    if (n == 1) {
      if (a[i] != b[i] && ascii_upper(a[i]) != ascii_upper(b[i])) return false;
    } else if (a.compare(i, n, b, i, n) != 0) {
      return false;
    }
    i += n;
  }
  return true;
}

// `s` starts just after "["; the name ends at the first "]" that is a character of its own.
std::string_view header_name(std::string_view s, CharScheme scheme) {
  s = cut_at_nul(s);
  std::size_t end = 0;
  if (!hides_ascii(scheme)) {
    end = find_byte(s, ']', 0);
  } else {
    while (end < s.size() && s[end] != ']') end += narrow_char_length(s, end, scheme);
    if (end > s.size()) end = s.size();
  }
  return trim(s.substr(0, end));
}

// The name of the header whose "[" stands just before text[pos], read in place: up to its "]", or
// to the end of its line or a NUL when it has none, the way header_name reads the line's text. CR,
// LF and NUL are never trail bytes, so stepping by characters meets them as characters of their own.
std::string_view header_name_at(std::string_view text, std::size_t pos, CharScheme scheme) {
  std::size_t end = pos;
  if (!hides_ascii(scheme)) {
    while (end < text.size()) {
      const char c = text[end];
      if (c == ']' || c == '\0' || c == '\r' || c == '\n') break;
      ++end;
    }
  } else {
    while (end < text.size()) {
      const char c = text[end];
      if (c == ']' || c == '\0' || c == '\r' || c == '\n') break;
      end += narrow_char_length(text, end, scheme);
    }
    if (end > text.size()) end = text.size();
  }
  return trim(text.substr(pos, end - pos));
}

// For code pages whose bytes are characters of their own or never look like ASCII: where the name
// standing at text[pos] after blanks ends, with the blanks after it, when that name begins with
// `want` (case aside); npos when it does not. Compared in place, last byte first, since names that
// differ mostly differ in a number at their end.
std::size_t after_name(std::string_view text, std::size_t pos, std::string_view want) {
  while (pos < text.size() && is_blank(text[pos])) ++pos;
  const std::size_t n = want.size();
  if (text.size() - pos < n) return std::string_view::npos;
  if (n > 0 && ascii_upper(text[pos + n - 1]) != ascii_upper(want[n - 1])) return std::string_view::npos;
  for (std::size_t i = 0; i < n; ++i)
    if (text[pos + i] != want[i] && ascii_upper(text[pos + i]) != ascii_upper(want[i])) return std::string_view::npos;
  pos += n;
  while (pos < text.size() && is_blank(text[pos])) ++pos;
  return pos;
}

std::string_view unquoted(std::string_view v) {
  if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front()) {
    return v.substr(1, v.size() - 2);
  }
  return v;
}

struct Line {
  std::size_t begin = 0;
  std::size_t content_end = 0;  // before the line break
  std::size_t end = 0;          // after the line break
  bool has_break() const { return end != content_end; }
};

// Splits text into lines at CR LF, LF or CR. The next CR and LF are each searched once and reused,
// so CR-only and LF-only files both cost one pass.
class LineReader {
 public:
  explicit LineReader(std::string_view text)
      : text_(text),
        pos_(text.substr(0, kBom.size()) == kBom ? kBom.size() : 0),
        next_lf_(find_byte(text, '\n', pos_)),
        next_cr_(find_byte(text, '\r', pos_)) {}

  std::size_t start() const { return text_.substr(0, kBom.size()) == kBom ? kBom.size() : 0; }

  // Moves forward to `pos`, which must begin a line.
  void seek(std::size_t pos) { pos_ = pos; }

  bool next(Line& line) {
    if (pos_ >= text_.size()) return false;
    if (next_lf_ < pos_) next_lf_ = find_byte(text_, '\n', pos_);
    if (next_cr_ < pos_) next_cr_ = find_byte(text_, '\r', pos_);
    line.begin = pos_;
    line.content_end = next_lf_ < next_cr_ ? next_lf_ : next_cr_;
    if (line.content_end == text_.size()) {
      line.end = text_.size();
    } else if (text_[line.content_end] == '\r' && line.content_end + 1 < text_.size() &&
               text_[line.content_end + 1] == '\n') {
      line.end = line.content_end + 2;
    } else {
      line.end = line.content_end + 1;
    }
    pos_ = line.end;
    return true;
  }

 private:
  std::string_view text_;
  std::size_t pos_;
  std::size_t next_lf_;
  std::size_t next_cr_;
};

enum class Kind { blank, comment, header, key, other };

struct Parsed {
  Kind kind = Kind::blank;
  std::string_view name;   // header or key name, trimmed; a view into the text
  std::string_view value;  // key lines: trimmed and unquoted
};

Parsed parse_line(std::string_view text, CharScheme scheme) {
  Parsed p;
  std::size_t i = 0;
  while (i < text.size() && is_blank(text[i])) ++i;
  if (i == text.size() || text[i] == '\0') return p;
  if (text[i] == ';') {
    p.kind = Kind::comment;
  } else if (text[i] == '[') {
    p.kind = Kind::header;
    p.name = header_name(text.substr(i + 1), scheme);
  } else {
    text = cut_at_nul(text);
    // "=" is below every trail byte range, so a plain byte search is safe in every code page.
    const std::size_t eq = find_byte(text, '=', i);
    if (eq == text.size()) {
      p.kind = Kind::other;
    } else {
      p.kind = Kind::key;
      p.name = trim(text.substr(i, eq - i));
      p.value = unquoted(trim(text.substr(eq + 1)));
    }
  }
  return p;
}

std::string_view line_text(std::string_view content, const Line& line) {
  return content.substr(line.begin, line.content_end - line.begin);
}

std::size_t copy_value(std::string_view value, char* buffer, std::size_t size, CharScheme scheme) {
  const std::size_t n = narrow_cut(value, size - 1, scheme);
  if (n > 0) std::memcpy(buffer, value.data(), n);
  buffer[n] = '\0';
  return n;
}

std::size_t copy_default(const char* default_value, char* buffer, std::size_t size, CharScheme scheme) {
  std::string_view d = default_value == nullptr ? std::string_view() : std::string_view(default_value);
  while (!d.empty() && d.back() == ' ') d.remove_suffix(1);
  return copy_value(d, buffer, size, scheme);
}

// Names each followed by NUL, then one more NUL. A list that does not fit is cut (mid-name if need
// be) and closed with two NULs, answering size - 2, as the Windows functions do.
std::size_t copy_list(const std::vector<std::string_view>& names, char* buffer, std::size_t size) {
  if (size < 2) {
    buffer[0] = '\0';
    return 0;
  }
  std::size_t pos = 0;
  for (std::string_view name : names) {
    if (pos + name.size() + 1 > size - 1) {
      // The previous name may already reach size - 2; its NUL then doubles as the first closing one.
      const std::size_t room = pos < size - 2 ? size - 2 - pos : 0;
      if (room > 0) std::memcpy(buffer + pos, name.data(), room < name.size() ? room : name.size());
      buffer[size - 2] = '\0';
      buffer[size - 1] = '\0';
      return size - 2;
    }
    std::memcpy(buffer + pos, name.data(), name.size());
    pos += name.size();
    buffer[pos++] = '\0';
  }
  buffer[pos] = '\0';
  if (pos == 0) buffer[1] = '\0';
  return pos;
}

std::vector<std::string_view> section_names(std::string_view content, CharScheme scheme) {
  std::vector<std::string_view> names;
  LineReader lines(content);
  Line line;
  while (lines.next(line)) {
    const Parsed p = parse_line(line_text(content, line), scheme);
    if (p.kind == Kind::header && !p.name.empty()) names.push_back(p.name);
  }
  return names;
}

std::vector<std::string_view> key_names(std::string_view content, std::string_view section,
                                        CharScheme scheme) {
  std::vector<std::string_view> names;
  LineReader lines(content);
  Line line;
  bool in_section = false;
  while (lines.next(line)) {
    const Parsed p = parse_line(line_text(content, line), scheme);
    if (p.kind == Kind::header) {
      if (in_section) break;
      in_section = names_equal(p.name, section, scheme);
    } else if (in_section && p.kind == Kind::key && !p.name.empty()) {
      names.push_back(p.name);
    }
  }
  return names;
}

bool has_line_break(const char* s) { return s != nullptr && std::strpbrk(s, "\r\n") != nullptr; }

// Where a write lands: the first matching section, its first matching key and its last key line.
struct Target {
  std::optional<Line> header;
  std::optional<Line> key;
  std::string_view key_name;  // as spelled in the file
  std::optional<Line> last_key;
};

Target locate(std::string_view content, std::string_view section, std::string_view key, CharScheme scheme) {
  Target t;
  LineReader lines(content);
  Line line;
  while (lines.next(line)) {
    const Parsed p = parse_line(line_text(content, line), scheme);
    if (p.kind == Kind::header) {
      if (t.header) break;
      if (names_equal(p.name, section, scheme)) t.header = line;
    } else if (t.header && p.kind == Kind::key) {
      t.last_key = line;
      if (!t.key && names_equal(p.name, key, scheme)) {
        t.key = line;
        t.key_name = p.name;
      }
    }
  }
  return t;
}

std::string without_sections(std::string_view content, std::string_view section, CharScheme scheme) {
  std::string out;
  out.reserve(content.size());
  LineReader lines(content);
  out.append(content.substr(0, lines.start()));
  Line line;
  bool dropping = false;
  while (lines.next(line)) {
    const Parsed p = parse_line(line_text(content, line), scheme);
    if (p.kind == Kind::header) dropping = names_equal(p.name, section, scheme);
    if (!dropping) out.append(content.substr(line.begin, line.end - line.begin));
  }
  return out;
}

}  // namespace

std::size_t get_profile_string_from_memory(std::string_view content, const char* section, const char* key,
                                           const char* default_value, char* buffer, std::size_t size,
                                           CharScheme scheme) {
  if (buffer == nullptr || size == 0) return 0;
  if (section == nullptr) return copy_list(section_names(content, scheme), buffer, size);
  const std::string_view want_section = trim(section);
  if (key == nullptr) {
    const std::vector<std::string_view> names = key_names(content, want_section, scheme);
    if (names.empty()) return copy_default(default_value, buffer, size, scheme);
    return copy_list(names, buffer, size);
  }
  const std::string_view want_key = trim(key);

  // The hot path. Outside the wanted section only headers matter: each "[" that begins a line (after
  // blanks) has its name read up to "]" and compared, without splitting the text into lines. Inside
  // the section the lines are taken one by one, and the scan stops at the key or at the end of the
  // first matching section.
  // A section name holding "]", CR, LF or NUL, or a key name holding "=" or NUL, can match nothing.
  static constexpr std::string_view kHeaderEnds{"]\0\r\n", 4};
  static constexpr std::string_view kKeyEnds{"=\0", 2};
  const bool direct = !hides_ascii(scheme);
  if (direct && (want_section.find_first_of(kHeaderEnds) != std::string_view::npos ||
                 want_key.find_first_of(kKeyEnds) != std::string_view::npos)) {
    return copy_default(default_value, buffer, size, scheme);
  }
  const std::size_t start = content.substr(0, kBom.size()) == kBom ? kBom.size() : 0;
  std::size_t from = start;
  std::size_t header = content.size();
  while (from < content.size()) {
    const std::size_t p = find_byte(content, '[', from);
    if (p == content.size()) break;
    from = p + 1;
    std::size_t q = p;
    while (q > start && is_blank(content[q - 1])) --q;
    if (q != start && content[q - 1] != '\n' && content[q - 1] != '\r') continue;
    bool match = false;
    if (direct) {
      // The name ends at "]", a line break, a NUL or the end of the text; `want` holds none of them.
      const std::size_t end = after_name(content, p + 1, want_section);
      match = end == content.size() || (end != std::string_view::npos && kHeaderEnds.find(content[end]) !=
                                                                             std::string_view::npos);
    } else {
      match = names_equal(header_name_at(content, p + 1, scheme), want_section, scheme);
    }
    if (match) {
      header = q;
      break;
    }
  }
  if (header == content.size()) return copy_default(default_value, buffer, size, scheme);

  LineReader lines(content);
  lines.seek(header);
  Line line;
  lines.next(line);  // the header itself
  while (lines.next(line)) {
    const std::string_view text = line_text(content, line);
    std::size_t i = 0;
    while (i < text.size() && is_blank(text[i])) ++i;
    if (i == text.size()) continue;
    if (text[i] == '[') break;
    if (text[i] == ';') continue;
    if (direct) {
      // The key's name, blanks, then the line's first "=" (`want` holds neither "=" nor NUL).
      const std::size_t eq = after_name(text, i, want_key);
      if (eq == std::string_view::npos || eq == text.size() || text[eq] != '=') continue;
      return copy_value(unquoted(trim(cut_at_nul(text.substr(eq + 1)))), buffer, size, scheme);
    }
    // A NUL ends the line's meaning, so a key line has its "=" before any NUL. Both are below every
    // trail byte range, so a plain byte scan is safe in every code page.
    std::size_t eq = i;
    while (eq < text.size() && text[eq] != '=' && text[eq] != '\0') ++eq;
    if (eq == text.size() || text[eq] != '=') continue;
    if (names_equal(trim(text.substr(i, eq - i)), want_key, scheme)) {
      return copy_value(unquoted(trim(cut_at_nul(text.substr(eq + 1)))), buffer, size, scheme);
    }
  }
  return copy_default(default_value, buffer, size, scheme);
}

std::optional<std::string> write_profile_string_in_memory(std::string_view content, const char* section,
                                                          const char* key, const char* value,
                                                          CharScheme scheme) {
  if (section == nullptr) {
    // The Windows call with everything null only flushes its cache; there is none here.
    if (key == nullptr && value == nullptr) return std::string(content);
    return std::nullopt;
  }
  if (has_line_break(section) || has_line_break(key) || has_line_break(value)) return std::nullopt;

  // Refuse names that would not read back as themselves, rather than write a file that hides them.
  const std::string_view sec = trim(section);
  const std::string header = "[" + std::string(sec) + "]";
  const Parsed parsed_header = parse_line(header, scheme);
  if (parsed_header.kind != Kind::header || parsed_header.name != sec) return std::nullopt;

  if (key == nullptr) return without_sections(content, sec, scheme);

  const std::string_view k = trim(key);
  const std::string key_prefix = std::string(k) + "=";
  const Parsed parsed_key = parse_line(key_prefix, scheme);
  if (parsed_key.kind != Kind::key || parsed_key.name != k) return std::nullopt;

  const Target t = locate(content, sec, k, scheme);
  std::string out;
  out.reserve(content.size() + header.size() + key_prefix.size() + (value ? std::strlen(value) : 0) + 8);

  if (value == nullptr) {
    if (!t.key) return std::string(content);
    out.append(content.substr(0, t.key->begin));
    out.append(content.substr(t.key->end));
    return out;
  }

  if (t.key) {
    // Keep the line's indentation and key spelling; only what follows the name is rewritten.
    const std::size_t name_end =
        static_cast<std::size_t>(t.key_name.data() - content.data()) + t.key_name.size();
    out.append(content.substr(0, name_end));
    out.push_back('=');
    out.append(value);
    out.append(t.key->has_break() ? content.substr(t.key->content_end, t.key->end - t.key->content_end)
                                  : kCrLf);
    out.append(content.substr(t.key->end));
    return out;
  }

  if (t.header) {
    const Line& anchor = t.last_key ? *t.last_key : *t.header;
    out.append(content.substr(0, anchor.end));
    if (!anchor.has_break()) out.append(kCrLf);
    out.append(key_prefix).append(value).append(kCrLf);
    out.append(content.substr(anchor.end));
    return out;
  }

  out.append(content);
  const std::size_t start = LineReader(content).start();
  if (content.size() > start && content.back() != '\n' && content.back() != '\r') out.append(kCrLf);
  out.append(header).append(kCrLf);
  out.append(key_prefix).append(value).append(kCrLf);
  return out;
}

}  // namespace ovik::platform
