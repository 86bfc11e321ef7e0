#include "database/access/sql_text.h"

#include "platform/ascii.h"

namespace ovik::access {

bool reads_backslash_escapes(std::string_view dbms_name) {
  const std::string product = platform::ascii_lower(dbms_name);
  return product.find("mysql") != std::string::npos || product.find("mariadb") != std::string::npos;
}

std::string quote_string(std::string_view text, bool double_backslashes) {
  std::string out;
  out.reserve(text.size() + 8);
  out += '\'';
  // Runs without a character to double go in one piece.
  std::size_t from = 0;
  for (;;) {
    const std::size_t at = double_backslashes ? text.find_first_of("'\\", from) : text.find('\'', from);
    if (at == std::string_view::npos) break;
    out.append(text, from, at + 1 - from);
    out += text[at];
    from = at + 1;
  }
  out.append(text, from);
  out += '\'';
  return out;
}

}  // namespace ovik::access
