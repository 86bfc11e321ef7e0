#include "logging/log_statements.h"

#include "database/access/sql_text.h"
#include "platform/ascii.h"

namespace ovik {

namespace {

std::string literal(LogDialect dialect, const std::string& value) {
  return access::quote_string(value, dialect == LogDialect::kMariaDb);
}

bool contains(std::string_view text, std::string_view part) {
  return text.find(part) != std::string_view::npos;
}

}  // namespace

const char* log_table_definition_file(LogDialect dialect) {
  switch (dialect) {
    case LogDialect::kSqlite:
      return "wkLog.sqlite.sql";
    case LogDialect::kPostgres:
      return "wkLog.postgresql.sql";
    case LogDialect::kMariaDb:
      return "wkLog.mariadb.sql";
    case LogDialect::kSqlServer:
      break;
  }
  return "wkLog.sqlserver.sql";
}

LogDialect log_dialect(std::string_view dbms_name, std::string_view provider) {
  const std::string dbms = platform::ascii_lower(dbms_name);
  if (contains(dbms, "sqlite")) return LogDialect::kSqlite;
  if (contains(dbms, "postgres")) return LogDialect::kPostgres;
  if (access::reads_backslash_escapes(dbms)) return LogDialect::kMariaDb;
  if (dbms.empty() && platform::ascii_lower(provider).starts_with("sqlite")) return LogDialect::kSqlite;
  return LogDialect::kSqlServer;
}

std::string log_insert_statement(LogDialect dialect, std::int32_t process_id, const std::string& user,
                                 const std::string& application, const std::string& title,
                                 const std::string& comment) {
  const char* now = dialect == LogDialect::kSqlite     ? " datetime('now','localtime'),\r\n"
                    : dialect == LogDialect::kPostgres ? " localtimestamp(0),\r\n"
                    : dialect == LogDialect::kMariaDb  ? " now(),\r\n"
                                                       : " getdate(),\r\n";
  // One piece per line of the statement, as the server receives it.
  // clang-format off
  return "Insert into wkLog(\r\n"
         " ProcessID,\r\n"
         " LogonUserName,\r\n"
         " ApplicationName,\r\n"
         " AmendDate,\r\n"
         " Title,\r\n"
         " Comment\r\n"
         ")values(\r\n"
         " " + std::to_string(process_id) + ",\r\n"
         " " + literal(dialect, user) + ",\r\n"
         " " + literal(dialect, application) + ",\r\n" +
         now +
         " " + literal(dialect, title) + ",\r\n"
         " " + literal(dialect, comment) + "\r\n"
         ")\r\n";
  // clang-format on
}

std::string log_purge_statement(LogDialect dialect, const std::string& application,
                                const std::string& cutoff_yyyymmdd) {
  const std::string app = "ApplicationName =" + literal(dialect, application) + "\r\n";
  switch (dialect) {
    case LogDialect::kSqlite:
      // SQLite holds the date as text, and a text compared with a number is always the greater.
      return "delete from wkLog \r\nwhere \r\n" + app + "and cast(strftime('%Y%m%d',AmendDate) as integer)<" +
             cutoff_yyyymmdd + "\r\n";
    case LogDialect::kPostgres:
      // Against the column itself, so that the index on (ApplicationName, AmendDate) serves it.
      return "delete from wkLog \r\nwhere \r\n" + app + "and AmendDate<to_date('" + cutoff_yyyymmdd +
             "','YYYYMMDD')\r\n";
    case LogDialect::kMariaDb:
      // The date text is read as a date, against the column itself so that the index serves it.
      return "delete from wkLog \r\nwhere \r\n" + app + "and AmendDate<'" + cutoff_yyyymmdd + "'\r\n";
    case LogDialect::kSqlServer:
      break;
  }
  // The server compares the date text with the number.
  return "delete wkLog \r\nwhere \r\n" + app + "and convert(varchar,AmendDate,112)<" + cutoff_yyyymmdd +
         "\r\n";
}

}  // namespace ovik
