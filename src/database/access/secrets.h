// The passwords of a connection string, and their removal from the texts that show the string
// or repeat it: the connect line of the trace and the texts of a failed connect (its error
// descriptions, and the log entry and events that carry them). A caller's own texts (log
// entries, statements and their errors) are never changed.
//
// A password is the value of an item named "Password" or "PWD", or whose name ends in "Password"
// ("Jet OLEDB:Database Password"), at any level: the items as the connection's own parser reads
// them, and the items of every value that is itself a connection string ("Extended Properties",
// which the ODBC driver receives as it stands), read both by that parser and by the ODBC rules.
// Once collected, a password is hidden wherever it shows, also inside other items (a data source
// that a placeholder filled with the password) and in the texts of drivers. A password shorter
// than kShortSecret bytes is hidden only where it stands alone, not inside a longer word or
// number: a password "p" would otherwise take every "p" out of every line, and so little text
// inside a word gives nothing away.
#pragma once

#include <cstddef>
#include <functional>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace ovik::access {

inline constexpr std::string_view kMask = "********";
inline constexpr std::size_t kShortSecret = 4;

class Secrets {
 public:
  // Also takes the forms the value has when it is written enclosed in a string (doubled quotes,
  // doubled braces), its inside when it is enclosed in braces (as the ODBC driver reads it) and,
  // for a value holding a NUL, the part before it. An empty value, or one of stars that the mask
  // itself would show, hides nothing.
  void add(std::string_view secret);
  void add(const Secrets& other);
  bool empty() const noexcept { return by_length_.empty(); }
  // Every occurrence of a password replaced by kMask; where several start at one place, the
  // longest is replaced.
  std::string redact(std::string_view text) const;

 private:
  void insert(std::string value);
  // Each value once, grouped by length, longest first: where several start at one place the
  // longest is found first, and each place costs one lookup per length, not one per value (a
  // string may hold thousands of passwords).
  std::vector<std::pair<std::size_t, std::set<std::string, std::less<>>>> by_length_;
  std::string starts_;  // the first byte of each value, each once
};

// The passwords of a connection string; when it names a data-link file ("File Name="), those of
// the file too (a file that cannot be read adds nothing).
Secrets secrets_of(std::string_view connection_string);

// The connection string as a trace line shows it: each password, at every level and wherever
// else it shows, replaced by kMask, and so is the whole part that the parser cannot read (it does
// not connect, and it may hold a password that reading would have found). Everything else is
// kept as written.
std::string mask_connection_string(std::string_view connection_string);

}  // namespace ovik::access
