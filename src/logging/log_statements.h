// The SQL of the application log in the dialect of the server that the log connection reached.
// SQL Server's text is the log's own; SQLite, PostgreSQL and MariaDB/MySQL get statements of their
// own, because the SQL Server text fails there and the log never looks at a failing purge. Every
// value goes in as a string literal with its apostrophes doubled, names included, and on
// MariaDB/MySQL its backslashes as well, which that server reads as escapes.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "ovik/export.h"

namespace ovik {

enum class LogDialect { kSqlServer, kSqlite, kPostgres, kMariaDb };

// The dialect for the product the driver names (Driver::dbms_name); when it names none, the
// provider decides. Anything not recognised gets SQL Server's text.
OVIK_API LogDialect log_dialect(std::string_view dbms_name, std::string_view provider);

// The file of the installation's sql/ folder that defines wkLog in that dialect.
OVIK_API const char* log_table_definition_file(LogDialect dialect);

// One wkLog row stamped with the server's local time. The text ends with CR LF, as each of its
// lines does.
std::string log_insert_statement(LogDialect dialect, std::int32_t process_id, const std::string& user,
                                 const std::string& application, const std::string& title,
                                 const std::string& comment);

// Deletes the application's rows dated before the cutoff day, given as eight digits "yyyymmdd".
OVIK_API std::string log_purge_statement(LogDialect dialect, const std::string& application,
                                         const std::string& cutoff_yyyymmdd);

}  // namespace ovik
