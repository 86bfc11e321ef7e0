// String literals of SQL text, shared by the data-access users that write values into statements
// (clsDatabase's literals, the application log).
#pragma once

#include <string>
#include <string_view>

namespace ovik::access {

// MySQL and MariaDB read a backslash inside a string literal as an escape by default; the product
// is the one the driver names (Driver::dbms_name), in any case.
bool reads_backslash_escapes(std::string_view dbms_name);

// text as a string literal: in apostrophes, each apostrophe doubled, and each backslash too where
// the server reads it as an escape, so that the literal reads back as the text and no value can
// end it early.
std::string quote_string(std::string_view text, bool double_backslashes);

}  // namespace ovik::access
