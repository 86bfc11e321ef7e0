// Connection strings of the form "Key=Value;Key=Value", as the connection's Open receives them,
// and the data-link files ("File Name=<path>") that hold one.
//
// Parsing rules: keys match without regard to ASCII case; blanks around keys and unquoted values
// are trimmed; a value may be enclosed in double or single quotes, the enclosing quote doubled
// inside ("Password='it''s;ok'"); empty items (";;") are skipped. When a key appears twice the
// LAST value wins, keeping the position of the first appearance: a later item amends the
// string, which is how a caller overrides a value of a data-link file or a template.
// Malformed text (an item without "=", an unterminated quote, text after a closing quote)
// throws DriverError with SQLSTATE 08001 and changes nothing.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "ovik/export.h"

namespace ovik::access {

class ConnectionString {
 public:
  ConnectionString() = default;
  static ConnectionString parse(std::string_view text);

  // The value of key, or nullopt when the key is absent (an empty value is present).
  std::optional<std::string> find(std::string_view key) const;
  std::string get(std::string_view key, std::string_view fallback = {}) const;
  bool contains(std::string_view key) const { return find(key).has_value(); }

  // Replaces the value in place, or appends the item when the key is new.
  void set(std::string_view key, std::string value);
  void erase(std::string_view key);

  // Items in order, keys spelled as first given.
  const std::vector<std::pair<std::string, std::string>>& items() const { return items_; }
  bool empty() const { return items_.empty(); }

  // "Key=Value;..." with values quoted only where parsing would otherwise change them.
  std::string to_string() const;

 private:
  std::vector<std::pair<std::string, std::string>>::iterator locate(std::string_view key);
  std::vector<std::pair<std::string, std::string>> items_;
};

// One item as a parser reads it and where it stands in the text: its value is written from
// value_begin (quotes or braces included) to value_end, the ";" or the end that closes the item;
// its characters start at content_begin, where `escape` (the enclosing quote or "}", 0 when
// the value is not enclosed) stands doubled for each one of it in the value.
struct ItemSpan {
  std::string key;
  std::string value;
  std::size_t value_begin = 0;
  std::size_t content_begin = 0;
  std::size_t value_end = 0;
  char escape = 0;
};

// The items as ConnectionString::parse reads them, in the order written, repeated keys kept.
// When the text is malformed, reading stops: `unread` is where the first item that cannot be
// read starts (its value, when the key was read), the items before it are complete, and
// error_position and error say what parse() reports.
struct ScannedString {
  std::vector<ItemSpan> items;
  std::optional<std::size_t> unread;
  std::size_t error_position = 0;
  std::string error;
};
ScannedString scan_connection_string(std::string_view text);

// The items of an ODBC connection string as the driver reads it: a value may be braced
// ({...}, "}}" inside) and hold ";" then; quotes mean nothing; an item without "=" is skipped.
std::vector<ItemSpan> scan_odbc_string(std::string_view text);

// A value as it must be written in a connection string: unchanged when it parses back as
// itself, otherwise in double quotes (single quotes when it holds a double quote but no single
// one), the enclosing quote doubled inside.
std::string quote_value(std::string_view value);

// Case-insensitive ASCII comparison, the rule for keys and provider names.
bool equals_ignore_case(std::string_view a, std::string_view b);

// Whether a provider name is base, ignoring case and any version suffix: "sqloledb.1" and
// "SQLOLEDB" match "SQLOLEDB"; "Microsoft.Jet.OLEDB.4.0" matches "Microsoft.Jet.OLEDB".
bool provider_matches(std::string_view name, std::string_view base);

enum class ProviderKind { kSqlite, kSqlServer, kOdbc, kOracle, kAccess, kUnknown };

// Which driver serves a provider name. A missing Provider item means the ODBC provider.
OVIK_API ProviderKind classify_provider(std::string_view name);

// The connection string line of a data-link file: UTF-16LE with byte-order mark (as data-link
// files are written) or UTF-8; "[section]" lines, ";" comment lines and blank lines are skipped.
// A file that cannot be read or holds no connection string throws DriverError (08001) naming it.
std::string read_data_link_file(const std::filesystem::path& path);

// When the string has "File Name=", the file's string with this string's other items laid over
// it; otherwise the string unchanged.
ConnectionString resolve_data_link(const ConnectionString& connection);

}  // namespace ovik::access
