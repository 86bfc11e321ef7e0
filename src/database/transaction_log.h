// The connection trace file: one line per connection event, appended to the day's file
// "<folder>/transaction_log/yyyy_mm_dd(<module>).log" beside the library, in the narrow code
// page. Each line is an SQL comment followed by the traced text, so a day's file reads as an
// annotated SQL script:
//   /* yyyy/mm/dd hh:mm:ss  active form : <15 characters>*/  <text>
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace ovik::trace {

// "--" and 100 heavy horizontal lines.
std::string heavy_rule();
// "-- Connected To [" + the connection string with its passwords masked + "]".
std::string connect_line(std::string_view connection_string);
std::string disconnect_line();
std::string begin_line();
std::string commit_line();
std::string rollback_line();
std::string failed_rollback_line();
std::string error_line(std::string_view description);

// Line breaks (CR LF, then CR, then LF) become one space each, and so does NUL, which would make
// tools take the whole file for binary; spaces at both ends go.
std::string traced_text(std::string_view text);
// A statement as the drivers send it: its text ends at its first NUL. What followed is left out
// and marked by kNotSentMarker, so the line shows what ran and stays a comment and SQL text.
std::string sent_statement(std::string_view source);
inline constexpr std::string_view kNotSentMarker = " /* text after a NUL was not sent */";
// Exactly 15 characters: the name cut or padded with spaces; 15 spaces when there is none.
std::string form_field(const std::optional<std::string>& form_type_name);

// Writes one traced line (the caller has checked that tracing is on). The folder is created when
// missing and, while `purge_done` is false, files last modified 30 days ago or earlier are
// deleted first; a failure there (once every other old file has been tried) ends the call
// without writing and leaves `purge_done` false.
// A failure to open or write the file loses the line silently. Never throws.
void put(std::string_view text, bool& purge_done);

}  // namespace ovik::trace
