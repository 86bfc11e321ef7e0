#include "database/access/secrets.h"

#include <algorithm>
#include <exception>

#include "database/access/connection_string.h"
#include "platform/ascii.h"

namespace ovik::access {
namespace {

// Each level of quoting doubles the quotes inside, so real strings nest only a few levels deep.
constexpr int kMaxDepth = 6;

bool is_secret_key(std::string_view key) {
  constexpr std::string_view kPassword = "password";
  return platform::ascii_iequals(key, "pwd") ||
         (key.size() >= kPassword.size() &&
          platform::ascii_iequals(key.substr(key.size() - kPassword.size()), kPassword));
}

std::string doubled(std::string_view text, char c) {
  std::string out;
  for (const char ch : text) {
    if (ch == c) out.push_back(c);
    out.push_back(ch);
  }
  return out;
}

std::string unbraced(std::string_view braced) {
  std::string out;
  for (std::size_t i = 1; i + 1 < braced.size(); ++i) {
    out.push_back(braced[i]);
    if (braced[i] == '}' && i + 2 < braced.size() && braced[i + 1] == '}') ++i;
  }
  return out;
}

// Letters, digits, "_" and the bytes of non-ASCII characters make up words.
bool word_byte(char c) {
  const auto byte = static_cast<unsigned char>(c);
  return byte >= 0x80 || c == '_' || (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') ||
         (c >= 'A' && c <= 'Z');
}

void hide(std::vector<bool>& hidden, std::size_t begin, std::size_t end) {
  std::fill(hidden.begin() + static_cast<std::ptrdiff_t>(std::min(begin, hidden.size())),
            hidden.begin() + static_cast<std::ptrdiff_t>(std::min(end, hidden.size())), true);
}

// Carries what is hidden in a value back onto the text that the value is written in.
void hide_in_value(const ItemSpan& item, std::string_view text, const std::vector<bool>& in_value,
                   std::vector<bool>& hidden) {
  std::size_t at = item.content_begin;
  for (std::size_t i = 0; i < item.value.size() && at < text.size(); ++i) {
    const std::size_t width = item.escape != 0 && text[at] == item.escape ? 2 : 1;
    if (in_value[i]) hide(hidden, at, at + width);
    at += width;
  }
}

// Collects the passwords of one level and, with `hidden`, marks the characters that show them.
// Nested levels are also read by the ODBC rules, as the driver that receives them reads them;
// only the top level is the connection's own to refuse, so only there is an unread rest hidden.
void walk(std::string_view text, bool nested, int depth, std::vector<bool>* hidden, Secrets& secrets) {
  const auto take = [&](const ItemSpan& item) {
    if (is_secret_key(item.key)) {
      if (item.value.empty()) return;
      secrets.add(item.value);
      if (hidden) hide(*hidden, item.value_begin, item.value_end);
      return;
    }
    if (depth >= kMaxDepth || item.value.find('=') == std::string::npos) return;
    std::vector<bool> in_value(hidden ? item.value.size() : 0);
    walk(item.value, true, depth + 1, hidden ? &in_value : nullptr, secrets);
    if (hidden) hide_in_value(item, text, in_value, *hidden);
  };
  const ScannedString scanned = scan_connection_string(text);
  for (const ItemSpan& item : scanned.items) take(item);
  if (scanned.unread && !nested && hidden) hide(*hidden, *scanned.unread, text.size());
  if (nested) {
    for (const ItemSpan& item : scan_odbc_string(text)) take(item);
  }
}

}  // namespace

void Secrets::add(std::string_view secret) {
  // The driver manager reads C strings, so a password holding a NUL reaches the server cut there.
  if (const auto nul = secret.find('\0'); nul != std::string_view::npos && nul != 0)
    add(secret.substr(0, nul));
  // An item passed on to the ODBC driver loses its braces there ("PWD={a}}b}" is "a}b").
  if (secret.size() >= 2 && secret.front() == '{' && secret.back() == '}') add(unbraced(secret));
  if (secret.empty()) return;
  if (secret.size() <= kMask.size() && secret.find_first_not_of('*') == std::string_view::npos) return;
  insert(std::string(secret));
  for (const char c : {'"', '\'', '}'}) {
    if (secret.find(c) != std::string_view::npos) insert(doubled(secret, c));
  }
}

void Secrets::add(const Secrets& other) {
  for (const auto& [size, values] : other.by_length_) {
    for (const std::string& value : values) add(value);
  }
}

void Secrets::insert(std::string value) {
  auto group = std::lower_bound(by_length_.begin(), by_length_.end(), value.size(),
                                [](const auto& g, std::size_t size) { return g.first > size; });
  if (group == by_length_.end() || group->first != value.size())
    group = by_length_.insert(group, {value.size(), {}});
  if (starts_.find(value.front()) == std::string::npos) starts_.push_back(value.front());
  group->second.insert(std::move(value));
}

std::string Secrets::redact(std::string_view text) const {
  if (by_length_.empty()) return std::string(text);
  // The next place of each byte that starts a password; found with memchr, so that text without
  // a candidate is only copied.
  std::vector<std::pair<char, std::size_t>> next;
  for (const char start : starts_) next.emplace_back(start, text.find(start));
  std::string out;
  out.reserve(text.size());
  std::size_t copied = 0;
  for (;;) {
    std::size_t at = std::string_view::npos;
    for (const auto& [start, place] : next) at = std::min(at, place);
    if (at == std::string_view::npos) break;
    std::size_t matched = 0;
    for (const auto& [size, values] : by_length_) {
      if (size > text.size() - at || values.find(text.substr(at, size)) == values.end()) continue;
      const std::size_t end = at + size;
      if (size < kShortSecret &&
          !((at == 0 || !word_byte(text[at - 1])) && (end == text.size() || !word_byte(text[end]))))
        continue;
      matched = size;
      break;
    }
    std::size_t resume = at + 1;
    if (matched != 0) {
      out.append(text.substr(copied, at - copied)).append(kMask);
      resume = copied = at + matched;
    }
    for (auto& [start, place] : next) {
      if (place < resume) place = text.find(start, resume);
    }
  }
  return out.append(text.substr(copied));
}

Secrets secrets_of(std::string_view connection_string) {
  Secrets secrets;
  walk(connection_string, false, 0, nullptr, secrets);
  std::string file_name;
  for (const ItemSpan& item : scan_connection_string(connection_string).items) {
    if (platform::ascii_iequals(item.key, "File Name")) file_name = item.value;  // the last one counts
  }
  if (!file_name.empty()) {
    try {
      walk(read_data_link_file(file_name), false, 0, nullptr, secrets);
    } catch (const std::exception&) {
      // The connection fails on that file with its own error; no password came from it.
    }
  }
  return secrets;
}

std::string mask_connection_string(std::string_view connection_string) {
  Secrets secrets;
  std::vector<bool> hidden(connection_string.size());
  walk(connection_string, false, 0, &hidden, secrets);
  std::string shown;
  shown.reserve(connection_string.size());
  for (std::size_t i = 0; i < connection_string.size();) {
    if (!hidden[i]) {
      shown.push_back(connection_string[i++]);
      continue;
    }
    shown += kMask;
    while (i < connection_string.size() && hidden[i]) ++i;
  }
  return secrets.redact(shown);
}

}  // namespace ovik::access
