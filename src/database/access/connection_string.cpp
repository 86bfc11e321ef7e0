#include "database/access/connection_string.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>
#include <system_error>

#include "database/access/driver.h"
#include "database/access/utf16.h"
#include "platform/ascii.h"

namespace ovik::access {
namespace {

constexpr std::string_view kBlanks = " \t\r\n";
constexpr const char* kBadString = "08001";

std::string_view trim(std::string_view text) {
  const auto first = text.find_first_not_of(kBlanks);
  if (first == std::string_view::npos) return {};
  const auto last = text.find_last_not_of(kBlanks);
  return text.substr(first, last - first + 1);
}


// The string may hold a password, so the message points at the position, not the text.
[[noreturn]] void malformed(std::size_t position, std::string_view why) {
  throw DriverError(
      kBadString, 0,
      "Invalid connection string at character " + std::to_string(position + 1) + ": " + std::string(why));
}

// Removes version suffixes such as ".1" or ".4.0".
std::string_view without_version(std::string_view name) {
  for (;;) {
    const auto dot = name.find_last_of('.');
    if (dot == std::string_view::npos || dot + 1 == name.size()) return name;
    const auto tail = name.substr(dot + 1);
    if (tail.find_first_not_of("0123456789") != std::string_view::npos) return name;
    name = name.substr(0, dot);
  }
}

}  // namespace

bool equals_ignore_case(std::string_view a, std::string_view b) { return platform::ascii_iequals(a, b); }

ScannedString scan_connection_string(std::string_view text) {
  ScannedString result;
  std::size_t pos = 0;
  const auto skip_blanks = [&] {
    while (pos < text.size() && kBlanks.find(text[pos]) != std::string_view::npos) ++pos;
  };
  const auto stop = [&](std::size_t unread, std::size_t position, const char* why) {
    result.unread = unread;
    result.error_position = position;
    result.error = why;
    return result;
  };
  while (true) {
    skip_blanks();
    if (pos >= text.size()) break;
    if (text[pos] == ';') {
      ++pos;
      continue;
    }
    const std::size_t key_start = pos;
    const auto equals = text.find_first_of("=;", pos);
    if (equals == std::string_view::npos || text[equals] != '=') {
      return stop(key_start, key_start, "an item has no '='");
    }
    const auto key = trim(text.substr(key_start, equals - key_start));
    if (key.empty()) return stop(key_start, key_start, "an item has no key");
    pos = equals + 1;
    skip_blanks();
    ItemSpan item;
    item.key = std::string(key);
    item.value_begin = pos;
    if (pos < text.size() && (text[pos] == '"' || text[pos] == '\'')) {
      const char quote = text[pos];
      const std::size_t open = pos++;
      item.content_begin = pos;
      item.escape = quote;
      bool closed = false;
      while (pos < text.size()) {
        if (text[pos] == quote) {
          if (pos + 1 < text.size() && text[pos + 1] == quote) {
            item.value.push_back(quote);
            pos += 2;
            continue;
          }
          ++pos;
          closed = true;
          break;
        }
        item.value.push_back(text[pos++]);
      }
      if (!closed) return stop(open, open, "a quoted value is not closed");
      skip_blanks();
      if (pos < text.size() && text[pos] != ';') return stop(open, pos, "text follows a quoted value");
    } else {
      const auto end = std::min(text.find(';', pos), text.size());
      item.content_begin = pos;
      item.value = std::string(trim(text.substr(pos, end - pos)));
      pos = end;
    }
    item.value_end = pos;
    result.items.push_back(std::move(item));
  }
  return result;
}

std::vector<ItemSpan> scan_odbc_string(std::string_view text) {
  std::vector<ItemSpan> items;
  std::size_t pos = 0;
  while (pos < text.size()) {
    const auto equals = text.find('=', pos);
    if (equals == std::string_view::npos) break;
    const auto semicolon = text.find(';', pos);
    if (semicolon < equals) {  // an item without "=" says nothing
      pos = semicolon + 1;
      continue;
    }
    ItemSpan item;
    item.key = std::string(trim(text.substr(pos, equals - pos)));
    pos = equals + 1;
    while (pos < text.size() && kBlanks.find(text[pos]) != std::string_view::npos) ++pos;
    item.value_begin = pos;
    if (pos < text.size() && text[pos] == '{') {
      item.content_begin = ++pos;
      item.escape = '}';
      while (pos < text.size()) {
        if (text[pos] == '}') {
          if (pos + 1 < text.size() && text[pos + 1] == '}') {
            item.value.push_back('}');
            pos += 2;
            continue;
          }
          ++pos;
          break;
        }
        item.value.push_back(text[pos++]);
      }
    } else {
      item.content_begin = pos;
    }
    // Whatever follows a braced value up to the next ";" still belongs to its item.
    const auto end = std::min(text.find(';', pos), text.size());
    if (item.escape == 0) item.value = std::string(trim(text.substr(pos, end - pos)));
    item.value_end = end;
    pos = end < text.size() ? end + 1 : end;
    items.push_back(std::move(item));
  }
  return items;
}

ConnectionString ConnectionString::parse(std::string_view text) {
  ScannedString scanned = scan_connection_string(text);
  if (scanned.unread) malformed(scanned.error_position, scanned.error);
  ConnectionString result;
  for (ItemSpan& item : scanned.items) result.set(item.key, std::move(item.value));
  return result;
}

std::vector<std::pair<std::string, std::string>>::iterator ConnectionString::locate(std::string_view key) {
  const auto trimmed = trim(key);
  for (auto it = items_.begin(); it != items_.end(); ++it) {
    if (equals_ignore_case(it->first, trimmed)) return it;
  }
  return items_.end();
}

std::optional<std::string> ConnectionString::find(std::string_view key) const {
  const auto trimmed = trim(key);
  for (const auto& [name, value] : items_) {
    if (equals_ignore_case(name, trimmed)) return value;
  }
  return std::nullopt;
}

std::string ConnectionString::get(std::string_view key, std::string_view fallback) const {
  auto value = find(key);
  return value ? std::move(*value) : std::string(fallback);
}

void ConnectionString::set(std::string_view key, std::string value) {
  const auto it = locate(key);
  if (it != items_.end()) {
    it->second = std::move(value);
  } else {
    items_.emplace_back(std::string(trim(key)), std::move(value));
  }
}

void ConnectionString::erase(std::string_view key) {
  const auto it = locate(key);
  if (it != items_.end()) items_.erase(it);
}

std::string ConnectionString::to_string() const {
  std::string out;
  for (const auto& [key, value] : items_) {
    if (!out.empty()) out.push_back(';');
    out += key;
    out.push_back('=');
    out += quote_value(value);
  }
  return out;
}

std::string quote_value(std::string_view value) {
  const bool needs_quotes =
      !value.empty() && (value.find(';') != std::string_view::npos || value.front() == '"' ||
                         value.front() == '\'' || kBlanks.find(value.front()) != std::string_view::npos ||
                         kBlanks.find(value.back()) != std::string_view::npos);
  if (!needs_quotes) return std::string(value);
  const char quote =
      (value.find('"') != std::string_view::npos && value.find('\'') == std::string_view::npos) ? '\'' : '"';
  std::string out(1, quote);
  for (const char c : value) {
    if (c == quote) out.push_back(quote);
    out.push_back(c);
  }
  out.push_back(quote);
  return out;
}

bool provider_matches(std::string_view name, std::string_view base) {
  return equals_ignore_case(without_version(trim(name)), without_version(base));
}

ProviderKind classify_provider(std::string_view name) {
  if (trim(name).empty() || provider_matches(name, "MSDASQL")) return ProviderKind::kOdbc;
  if (provider_matches(name, "SQLite")) return ProviderKind::kSqlite;
  if (provider_matches(name, "SQLOLEDB")) return ProviderKind::kSqlServer;
  if (provider_matches(name, "OraOLEDB.Oracle") || provider_matches(name, "MSDAORA")) {
    return ProviderKind::kOracle;
  }
  if (provider_matches(name, "Microsoft.Jet.OLEDB")) return ProviderKind::kAccess;
  return ProviderKind::kUnknown;
}

std::string read_data_link_file(const std::filesystem::path& path) {
  const auto fail = [&](std::string_view why) -> std::string {
    throw DriverError(kBadString, 0,
                      "Cannot read the data link file \"" + path.string() + "\": " + std::string(why));
  };
  std::error_code ec;
  if (std::filesystem::is_directory(path, ec)) fail("it is a folder");
  std::ifstream file(path, std::ios::binary);
  if (!file) fail(errno != 0 ? std::strerror(errno) : "it cannot be opened");
  const std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  if (file.bad()) fail("read error");

  std::string text;
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
  if (bytes.size() >= 2 && ((byte(0) == 0xFF && byte(1) == 0xFE) || (byte(0) == 0xFE && byte(1) == 0xFF))) {
    const bool little_endian = byte(0) == 0xFF;
    std::u16string wide;
    for (std::size_t i = 2; i + 1 < bytes.size(); i += 2) {
      const auto first = byte(i), second = byte(i + 1);
      wide.push_back(
          static_cast<char16_t>(little_endian ? (first | (second << 8)) : ((first << 8) | second)));
    }
    text = utf16_to_utf8(wide);
  } else if (bytes.size() >= 3 && byte(0) == 0xEF && byte(1) == 0xBB && byte(2) == 0xBF) {
    text = bytes.substr(3);
  } else {
    text = bytes;
  }

  std::size_t pos = 0;
  while (pos < text.size()) {
    auto end = text.find_first_of("\r\n", pos);
    if (end == std::string::npos) end = text.size();
    const auto line = trim(std::string_view(text).substr(pos, end - pos));
    pos = end + 1;
    if (line.empty() || line.front() == '[' || line.front() == ';') continue;
    return std::string(line);
  }
  return fail("it holds no connection string");
}

ConnectionString resolve_data_link(const ConnectionString& connection) {
  const auto file_name = connection.find("File Name");
  if (!file_name) return connection;
  auto resolved = ConnectionString::parse(read_data_link_file(*file_name));
  // A data-link file does not chain to another one.
  resolved.erase("File Name");
  for (const auto& [key, value] : connection.items()) {
    if (!equals_ignore_case(key, "File Name")) resolved.set(key, value);
  }
  return resolved;
}

}  // namespace ovik::access
