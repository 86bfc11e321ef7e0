// `ovik doctor [--json] [FOLDER]`: checks an installation as an administrator would before the
// store opens: the ini folder and both settings files, every section and key the library reads
// (with the line to add when one is missing, and values that fit the section's provider), each
// database connection with the provider's own error and where the library leaves that reason at
// run time, the log table on the log database and the log's purge there, and whether the log and
// trace folders, and today's log and trace files already there, can be written. Non-zero exit when
// a check fails.
#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <ostream>
#include <system_error>

#include "commands.h"
#include "database/access/connection_string.h"
#include "database/access/objects/connection.h"
#include "database/access/odbc/odbc_driver.h"
#include "database/access/sqlite/sqlite_driver.h"
#include "database/database.h"
#include "doctor_report.h"
#include "logging/log_statements.h"
#include "ovik/component.h"
#include "ovik/environment.h"
#include "platform/ascii.h"
#include "platform/clock.h"
#include "platform/locale_rules.h"
#include "platform/module_info.h"
#include "platform/system_info.h"

namespace ovik::host {

namespace {

namespace fs = std::filesystem;
using access::ProviderKind;

// What the checks need to know of the installation.
struct Installation {
  fs::path app;             // the application folder
  fs::path bin;             // its library folder: log/ and transaction_log/ lie here
  std::string module_name;  // the library's base name: the log's default application name
  std::vector<access::DataSource> data_sources;  // what MSDASQL can name, read once
};

std::optional<std::string> setting(const Ref<_clsIniFile>& ini, const std::string& section, const std::string& key) {
  try {
    std::string s = section, k = key;
    return ini->GetIni(s, k);
  } catch (const RaisedError&) {
    return std::nullopt;
  }
}

// A path or value for a shell command line the administrator may copy.
std::string shell_word(const std::string& text) {
  if (!text.empty() &&
      text.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789/._-+,:@=") ==
          std::string::npos)
    return text;
  std::string out = "'";
  for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

std::string dsn_list(const std::vector<access::DataSource>& sources) {
  std::string out;
  for (const auto& source : sources)
    out +=
        (out.empty() ? "" : ", ") + source.name + (source.driver.empty() ? "" : " (" + source.driver + ")");
  return out;
}

// A server value that fits the provider, for the line to add when the key is missing; SQLite files
// are those the example settings name.
std::string server_example(const std::string& section, ProviderKind kind, const Installation& at) {
  switch (kind) {
    case ProviderKind::kSqlite:
      return section == "master_database" ? "data/master.db" : "data/app.db";
    case ProviderKind::kSqlServer:
      return "dbhost,1433";
    case ProviderKind::kOdbc:
      return at.data_sources.empty() ? "<DSN>" : at.data_sources.front().name;
    case ProviderKind::kOracle:
      return "<Oracle service>";
    case ProviderKind::kAccess:
      return "/path/of/the/database.mdb";
    case ProviderKind::kUnknown:
      break;
  }
  return section == "master_database" ? "data/master.db" : "data/app.db";
}

// What the section's settings mean for its provider, with the values that fit it.
std::string provider_hint(const std::string& provider, const std::string& server, const Installation& at) {
  switch (access::classify_provider(provider)) {
    case ProviderKind::kSqlite:
      return "SQLite: server is the database file, absolute or relative to the application folder " +
             at.app.string() + " (server=data/app.db is " + (at.app / "data" / "app.db").string() +
             "); the file must exist: the library never creates it. database_user and password are not used.";
    case ProviderKind::kSqlServer:
      return "SQLOLEDB (SQL Server, through the ODBC driver FreeTDS): server is host, host\\instance or "
             "host,port "
             "(server=dbhost,1433); database_name is the database, database_user and password a SQL Server "
             "login.";
    case ProviderKind::kOdbc: {
      std::string hint =
          "MSDASQL (ODBC): server is the name of a DSN of odbc.ini (`odbcinst -j` names the files); "
          "database_user, "
          "password and database_name reach it as UID, PWD and DATABASE (an empty database_name keeps the "
          "DSN's "
          "own database).";
      if (at.data_sources.empty())
        return hint + "\nThis user sees no DSN: define one in /etc/odbc.ini or ~/.odbc.ini.";
      hint += "\nDSNs this user can see: " + dsn_list(at.data_sources) + ".";
      bool known = false;
      for (const auto& source : at.data_sources) known |= platform::ascii_iequals(source.name, server);
      if (!known && !server.empty()) hint += "\n\"" + server + "\" is none of them.";
      return hint;
    }
    case ProviderKind::kOracle:
      return provider +
             " (Oracle): needs an ODBC driver whose name begins with \"Oracle\" (`odbcinst -q -d` lists "
             "the installed ones); server reaches it as DBQ.";
    case ProviderKind::kAccess:
      return provider +
             " (Access): server is the database file, read through the ODBC driver \"MDBTools\" "
             "(read-only).";
    case ProviderKind::kUnknown:
      break;
  }
  return "\"" + provider +
         "\" is no provider the library knows: SQLite, SQLOLEDB, MSDASQL, OraOLEDB.Oracle, MSDAORA "
         "or Microsoft.Jet.OLEDB.4.0.";
}

std::string trace_file(const Installation& at) {
  return (at.bin / "transaction_log").string() + "/yyyy_mm_dd(" + at.module_name + ").log";
}

// Where a program finds out why this section's connection failed: neither the start-up notice nor
// the error 91 that OpenDatabase raises after it says why.
std::string runtime_hint(const std::string& section, bool traced, bool raised, const Installation& at) {
  // A failure without the provider's diagnostics is not raised by Connect: the database stays.
  if (!raised)
    return "At run time OpenDatabase hands this database out unconnected: its Usable is False, and its "
           "ErrorCD and ErrorMsg say why.";
  std::string hint =
      "At run time OpenDatabase shows the start-up notice, then raises error 91 to the program.";
  if (section == "database") {
    hint += " The reason goes to the day's log file " + (at.bin / "log").string() +
            "/<application><yymmdd>-<user>.LOG"
            " (<application> is " +
            at.module_name +
            " unless the program logs under its own name), in a line "
            "titled ServerConnectionString, each time the program writes a log entry.";
  }
  if (traced) return hint + " The trace file " + trace_file(at) + " has it as an \"→error!!\" line.";
  if (section == "database") return hint;
  return hint +
         " The library keeps the reason nowhere else: with transaction_log=true it goes to the trace file " +
         trace_file(at) + " as an \"→error!!\" line.";
}

// A folder the library must write to: it exists and takes a file, or it can be created.
void check_writable(DoctorReport& report, const std::string& label, const fs::path& folder) {
  std::error_code ec;
  const fs::path probe_in = fs::exists(folder, ec) ? folder : folder.parent_path();
  if (!fs::is_directory(probe_in, ec)) {
    report.add(CheckStatus::kFail, label, folder.string() + ": neither it nor its parent folder exists");
    return;
  }
  if (::access(probe_in.c_str(), W_OK | X_OK) != 0) {
    report.add(CheckStatus::kFail, label,
               folder.string() + ": " + probe_in.string() + " is not writable for this user");
    return;
  }
  report.add(CheckStatus::kOk, label,
             folder.string() + (probe_in == folder ? " is writable" : " can be created"));
}

// A day's file that is already there must take this user's lines: another user of the store's
// group may have made it without group write (a umask of 022), and the library then loses this
// user's lines without a word. A file not made yet is the folder's check.
void check_day_file(DoctorReport& report, const std::string& label, const fs::path& file) {
  struct stat info {};
  if (::lstat(file.c_str(), &info) != 0) return;
  if (!S_ISREG(info.st_mode)) {
    report.add(CheckStatus::kFail, label,
               file.string() + " is not a regular file: the library writes no line to it");
  } else if (::faccessat(AT_FDCWD, file.c_str(), W_OK, AT_EACCESS) != 0) {
    report.add(CheckStatus::kFail, label, file.string() + " is not writable for this user: its lines are lost",
               "Let the users who log share a group with write access to the file (a umask of 002 for "
               "them, and a setgid folder), or remove the file.");
  } else {
    report.add(CheckStatus::kOk, label, file.string() + " is writable");
  }
}

void check_folders(DoctorReport& report, const Installation& at) {
  check_writable(report, "log folder", at.bin / "log");
  check_writable(report, "trace folder", at.bin / "transaction_log");

  const platform::CivilNow now = platform::Facility<platform::Clock>::get().local_now();
  char yymmdd[16], trace_day[16];
  std::snprintf(yymmdd, sizeof yymmdd, "%02d%02d%02d", now.year % 100, now.month, now.day);
  std::snprintf(trace_day, sizeof trace_day, "%04d_%02d_%02d", now.year, now.month, now.day);
  // Programs may log under their own application names: every file of today and this user counts.
  const std::string ending =
      std::string(yymmdd) + "-" + platform::Facility<platform::SystemInfo>::get().user_name() + ".LOG";
  std::error_code ec;
  std::vector<fs::path> today;
  for (fs::directory_iterator it(at.bin / "log", ec), end; !ec && it != end; it.increment(ec))
    if (it->path().filename().string().ends_with(ending)) today.push_back(it->path());
  std::sort(today.begin(), today.end());
  for (const fs::path& file : today) check_day_file(report, "today's log file", file);
  check_day_file(report, "today's trace file",
                 at.bin / "transaction_log" / (std::string(trace_day) + "(" + at.module_name + ").log"));
}

// Why a file that is there cannot be read ("" when it can). Opening it is the only test that holds
// for root, ACLs and the like; only a regular file is opened, so a FIFO never blocks.
std::string unreadable(const fs::path& path) {
  std::error_code ec;
  const fs::file_status status = fs::status(path, ec);
  if (ec) return "cannot be read: " + ec.message();
  if (status.type() == fs::file_type::directory) return "cannot be read: it is a folder";
  if (status.type() != fs::file_type::regular) return "cannot be read: it is not a regular file";
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return "cannot be read: " + std::generic_category().message(errno);
  std::fclose(file);
  return "";
}

std::string trimmed(std::string_view text) {
  const std::size_t first = text.find_first_not_of(" \t\r");
  if (first == std::string_view::npos) return "";
  return std::string(text.substr(first, text.find_last_not_of(" \t\r") - first + 1));
}

// Where a settings file holds a password ("[section] key"), "" when it holds none: the key the
// library reads passwords from, or a connection string's Password= or PWD= item with a value.
std::string password_in(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::string section;
  for (std::string line; std::getline(in, line);) {
    const std::string text = trimmed(line);
    if (text.empty() || text[0] == ';' || text[0] == '#') continue;
    if (text[0] == '[') {
      section = text.substr(1, text.find(']') - 1);
      continue;
    }
    const std::size_t equals = text.find('=');
    if (equals == std::string::npos) continue;
    const std::string key = trimmed(text.substr(0, equals));
    const std::string value = trimmed(text.substr(equals + 1));
    const std::string where = "[" + section + "] " + key;
    if (platform::ascii_lower(key) == "password" && !value.empty()) return where;
    const std::string lower = platform::ascii_lower(value);
    for (const std::string item : {"password=", "pwd="}) {
      for (std::size_t at = lower.find(item); at != std::string::npos; at = lower.find(item, at + 1)) {
        // Only a whole item: "OldPwd=" is none.
        if (at != 0 && lower[at - 1] != ';' && lower[at - 1] != ' ') continue;
        const std::size_t from = at + item.size();
        if (trimmed(value.substr(from, value.find(';', from) - from)) != "") return where;
      }
    }
  }
  return "";
}

// A password in a file every user of the machine may read is every user's password.
void check_password_exposure(DoctorReport& report, const fs::path& path, const std::string& file) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0 || (info.st_mode & S_IROTH) == 0) return;
  const std::string where = password_in(path);
  if (where.empty()) return;
  char mode[8];
  std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(info.st_mode & 07777));
  const group* owner_group = ::getgrgid(info.st_gid);
  const std::string group_name = owner_group != nullptr ? owner_group->gr_name : std::to_string(info.st_gid);
  report.add(
      CheckStatus::kWarn, "password in " + file,
      path.string() + " holds a password (" + where + ") and every user may read it (mode " + mode + ")",
      "Let its owner and the group of the store's users read it, and no one else: chmod 640 " +
          shell_word(path.string()) + "\nIts group is " + group_name +
          "; if the store's users are not in it: chgrp <their group> " + shell_word(path.string()));
}

std::string failure_text(const std::exception& e) {
  if (const auto* raised = dynamic_cast<const RaisedError*>(&e)) return raised->description();
  return e.what();
}

const char* dialect_name(LogDialect dialect) {
  switch (dialect) {
    case LogDialect::kSqlite:
      return "SQLite";
    case LogDialect::kPostgres:
      return "PostgreSQL";
    case LogDialect::kMariaDb:
      return "MariaDB/MySQL";
    case LogDialect::kSqlServer:
      break;
  }
  return "SQL Server";
}

// How to create wkLog where the log looks for it.
std::string create_table_hint(LogDialect dialect, const std::string& dbms, const std::string& sqlite_file,
                              const std::string& server, const std::string& database_name,
                              const std::string& user, const Installation& at) {
  const char* file = log_table_definition_file(dialect);
  std::error_code ec;
  const bool installed = fs::is_regular_file(at.app / "sql" / file, ec);
  const std::string script = installed ? (at.app / "sql" / file).string() : std::string("sql/") + file;
  const std::string from = installed ? script : script + " (of the library's sources)";
  switch (dialect) {
    case LogDialect::kSqlite:
      return "Create it with " + from + ": sqlite3 " + shell_word(sqlite_file) + " < " + shell_word(script);
    case LogDialect::kPostgres:
      return "Create it with " + from +
             ", logged in as database_user so that it lies in that login's schema: "
             "psql -h <host> -p <port> -d " +
             shell_word(database_name.empty() ? "<database>" : database_name) + " -U " +
             shell_word(user.empty() ? "<database_user>" : user) + " -f " + shell_word(script);
    case LogDialect::kMariaDb:
      return "Create it with " + from + ": mariadb -h <host> -P <port> -u " +
             shell_word(user.empty() ? "<database_user>" : user) + " -p " +
             shell_word(database_name.empty() ? "<database>" : database_name) + " < " + shell_word(script);
    case LogDialect::kSqlServer:
      break;
  }
  std::string hint =
      "Create it with " + from + ": sqlcmd -S " + shell_word(server.empty() ? "<server>" : server) + " -d " +
      shell_word(database_name.empty() ? "<database>" : database_name) + " -i " + shell_word(script);
  if (!dbms.empty() && platform::ascii_lower(dbms).find("sql server") == std::string::npos)
    hint += "\nThe server is " + dbms +
            ": the log sends it SQL Server's statements, as it does to every server "
            "other than SQLite, PostgreSQL and MariaDB/MySQL.";
  return hint;
}

// The log database is the connection of section "database", as PrintApplog builds it. Its table
// is looked for with the six columns the log inserts; its purge is the log's own statement for
// the server reached, run with a cutoff of 0001-01-01 so that it matches no row. That cutoff is
// chosen over a rolled-back transaction: the server still parses the statement, resolves wkLog
// and its columns and checks the login's right to delete, but no row is ever touched or locked
// beyond the statement, which matters when the doctor runs while the store programs log, and it
// needs nothing of the driver's transaction support.
void check_log_database(DoctorReport& report, _Connection& connection, const std::string& provider,
                        const std::string& sqlite_file, const std::string& server,
                        const std::string& database_name, const std::string& user, const Installation& at) {
  auto* reached = dynamic_cast<access::Connection*>(&connection);
  const std::string dbms = reached != nullptr ? reached->dbms_name() : std::string();
  const LogDialect dialect = log_dialect(dbms, provider);
  const std::string on = dbms.empty() ? std::string(dialect_name(dialect)) : dbms;
  connection.put_CommandTimeout(10);
  Variant affected;
  try {
    connection.Execute(
        "select ProcessID, LogonUserName, ApplicationName, AmendDate, Title, Comment from wkLog "
        "where 1=0",
        affected, ado::adOptionUnspecified);
    report.add(CheckStatus::kOk, "log table wkLog",
               "present on " + on + ", with the six columns the log writes");
  } catch (const std::exception& e) {
    report.add(CheckStatus::kFail, "log table wkLog", failure_text(e),
               create_table_hint(dialect, dbms, sqlite_file, server, database_name, user, at) +
                   "\nUntil it exists every entry goes to the day's log file in " +
                   (at.bin / "log").string() + ".");
    report.add(CheckStatus::kSkip, "log purge", "wkLog is missing or incomplete");
    return;
  }
  const std::string purge = log_purge_statement(dialect, at.module_name, "00010101");
  try {
    connection.Execute(purge, affected, ado::adOptionUnspecified);
    report.add(CheckStatus::kOk, "log purge",
               std::string("accepted by ") + on + " in the log's " + dialect_name(dialect) +
                   " form (tried with a cutoff of 0001-01-01, so nothing was deleted)");
  } catch (const std::exception& e) {
    std::string hint = "The log purges its rows older than 30 days with:\n" + purge +
                       "Without it wkLog only grows. The log's login needs the right to delete from wkLog, "
                       "and AmendDate must be a date-time column.";
    if (dialect == LogDialect::kSqlServer && !dbms.empty() &&
        platform::ascii_lower(dbms).find("sql server") == std::string::npos)
      hint += "\nThe server is " + dbms +
              ": the log sends it SQL Server's statements, as it does to every server "
              "other than SQLite, PostgreSQL and MariaDB/MySQL.";
    report.add(CheckStatus::kFail, "log purge", failure_text(e), hint);
  }
}

void skip_log_database(DoctorReport& report, const std::string& why) {
  report.add(CheckStatus::kSkip, "log table wkLog", why);
  report.add(CheckStatus::kSkip, "log purge", why);
}

// The application and master databases; the store database needs the store's address, which only
// the client program knows.
void check_connections(DoctorReport& report, const Ref<_clsIniFile>& ini, const Installation& at) {
  for (const std::string section : {"database", "master_database"}) {
    const std::string name = "connection of [" + section + "]";
    const bool log_database = section == "database";
    auto provider = setting(ini, section, "provider");
    auto server = setting(ini, section, "server");
    auto user = setting(ini, section, "database_user");
    auto password = setting(ini, section, "password");
    auto database_name = setting(ini, section, "database_name");
    if (!provider || !server || !user || !password || !database_name) {
      report.add(CheckStatus::kFail, name, "its settings are incomplete");
      if (log_database) skip_log_database(report, "the settings of [database] are incomplete");
      continue;
    }
    const auto traced = setting(ini, section, "transaction_log");
    const bool tracing = traced && platform::ascii_lower(*traced) == "true";
    Ref<_clsConnectString> cs = create<_clsConnectString>("OvikEnvironment.clsConnectString");
    cs->SetProvider(*provider);
    // A relative SQLite file is the one of the folder checked here, wherever this program lies.
    const bool sqlite = access::classify_provider(*provider) == ProviderKind::kSqlite;
    std::string sqlite_file;
    if (sqlite) {
      try {
        sqlite_file = access::sqlite_database_path(*server, at.bin.string());
      } catch (const std::exception&) {
        sqlite_file = *server;
      }
    }
    cs->SetServer(sqlite ? sqlite_file : *server);
    cs->SetUser(*user);
    cs->SetPassword(*password);
    cs->SetInitialDatabase(*database_name);
    Ref<_clsDatabase> db = make_object<clsDatabase>();
    db->put_ConnectionTimeout(10);
    std::optional<std::string> failure;
    bool raised = false;
    try {
      if (!db->Connect(cs->GetValue(), HowToConnectEnum::ConnectByConnectionString))
        failure = db->get_ErrorMsg();
    } catch (const RaisedError& e) {
      failure = e.description();
      raised = true;
    }
    if (failure) {
      report.add(CheckStatus::kFail, name, *failure,
                 provider_hint(*provider, *server, at) + "\n" + runtime_hint(section, tracing, raised, at));
      if (log_database) skip_log_database(report, "the log database cannot be reached");
      continue;
    }
    report.add(CheckStatus::kOk, name, "reached " + *server);
    if (log_database) {
      Ref<_Connection> connection = db->get_Connection();
      check_log_database(report, *connection, *provider, fs::path(sqlite_file).lexically_normal().string(),
                         *server, *database_name, *user, at);
    }
    try {
      db->Disconnect();
    } catch (const RaisedError&) {
    }
  }
}

void check_keys(DoctorReport& report, const Ref<_clsIniFile>& ini, const Installation& at) {
  // One check per key: missing, a value the library cannot use, or what it holds.
  enum class Form { kText, kWholeNumber, kTrueOrFalse };
  auto require = [&](const std::string& section, const std::string& key, const std::string& example,
                     Form form, const std::string& hint = {}) {
    auto value = setting(ini, section, key);
    const std::string what = "[" + section + "] " + key;
    if (!value) {
      report.add(CheckStatus::kFail, what, "missing",
                 "Add under [" + section + "]: " + key + "=" + example + (hint.empty() ? "" : "\n" + hint));
      return;
    }
    std::int32_t n = 0;
    if (form == Form::kWholeNumber && platform::parse_int32(*value, n) != platform::ConvStatus::Ok) {
      report.add(CheckStatus::kFail, what, "\"" + *value + "\" is not a whole number");
      return;
    }
    // The library traces only on "true" in any case; every other word quietly means false.
    if (form == Form::kTrueOrFalse && platform::ascii_lower(*value) != "true" &&
        platform::ascii_lower(*value) != "false") {
      report.add(
          CheckStatus::kWarn, what,
          "\"" + *value + "\" is neither true nor false: the library reads it as false and writes no trace",
          "Write " + key + "=true to trace this database's statements in " + trace_file(at) + ", or " + key +
              "=false.");
      return;
    }
    report.add(CheckStatus::kOk, what, value->empty() ? "(empty)" : key == "password" ? "set" : *value);
  };

  for (const std::string section : {"database", "master_database", "store_database"}) {
    const auto provider = setting(ini, section, "provider");
    const ProviderKind kind = access::classify_provider(provider.value_or("SQLite"));
    if (provider && kind == ProviderKind::kUnknown) {
      report.add(CheckStatus::kFail, "[" + section + "] provider", "\"" + *provider + "\" is unknown",
                 provider_hint(*provider, "", at));
    } else {
      require(section, "provider", "SQLite", Form::kText);
    }
    const std::string fitting = provider_hint(provider.value_or("SQLite"), "", at);
    if (section != "store_database")
      require(section, "server", server_example(section, kind, at), Form::kText, fitting);
    require(section, "database_user", "", Form::kText);
    require(section, "password", "", Form::kText);
    require(section, "database_name", kind == ProviderKind::kSqlite ? "main" : "", Form::kText);
    require(section, "transaction_log", "false", Form::kTrueOrFalse);
  }
  require("accountitem", "accitem_store", "0", Form::kWholeNumber);
  require("accountitem", "accitem_petty", "0", Form::kWholeNumber);
  require("Financial", "server", "", Form::kText);
  require("Financial", "database", "", Form::kText);
  require("journalpattern", "jouptn_tenant", "0", Form::kWholeNumber);
  require("getposinfoimport", "pos_file", "/path/of/pos.csv", Form::kText);
  require("getposinfoimport", "employee_file", "/path/of/employee.csv", Form::kText);
  require("getposinfoimport", "bat_file_path", "/path/of/import.sh", Form::kText);
  report.add(CheckStatus::kSkip, "[headoffice] headoffice_<company code>",
             "read per company code; cannot be checked here");
}

}  // namespace

int run_doctor(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  bool json = false;
  std::optional<fs::path> folder;
  for (const std::string& arg : args) {
    if (arg == "--json") {
      json = true;
    } else if (!folder && !arg.starts_with("-")) {
      folder = arg;
    } else {
      err << "usage: ovik doctor [--json] [FOLDER]\n";
      return 2;
    }
  }
  std::error_code ec;
  if (folder) {
    // Relative SQLite files are taken from the library's folder unless the path handed to the
    // driver is absolute, so the folder checked must be too.
    folder = fs::absolute(*folder, ec).lexically_normal();
    if (!folder->has_filename() && folder->has_relative_path()) folder = folder->parent_path();
    const char* why = nullptr;
    if (!fs::exists(*folder, ec))
      why = "no such folder";
    else if (!fs::is_directory(*folder, ec))
      why = "not a folder";
    else if (!fs::is_directory(*folder / "ini", ec) && !fs::is_directory(*folder / "bin", ec))
      why = "it holds neither ini/ nor bin/";
    if (why != nullptr) {
      err << "ovik doctor: " << folder->string() << " is not an application folder (" << why << ")\n";
      return 2;
    }
  }
  const platform::ModuleInfo module = platform::Facility<platform::ModulePath>::get().module();
  Installation at;
  at.app = folder ? *folder : fs::path(module.folder).parent_path();
  at.bin = folder ? at.app / "bin" : fs::path(module.folder);
  at.module_name = module.base_name;
  at.data_sources = access::odbc_data_sources();
  const fs::path ini_folder = at.app / "ini";
  DoctorReport report;

  if (fs::is_directory(ini_folder, ec))
    report.add(CheckStatus::kOk, "settings folder", ini_folder.string());
  else
    report.add(CheckStatus::kFail, "settings folder", ini_folder.string() + " is missing");
  bool settings_readable = true;
  for (const std::string file : {"Brindlemark.ini", "menu.ini"}) {
    const fs::path path = ini_folder / file;
    const std::string label = "settings file " + file;
    // A missing file keeps the key checks below: their lines to add are what it should hold.
    if (!fs::exists(path, ec) && !ec) {
      report.add(CheckStatus::kFail, label, "missing");
    } else if (const std::string why = unreadable(path); !why.empty()) {
      report.add(CheckStatus::kFail, label, why);
      if (file == "Brindlemark.ini") settings_readable = false;
    } else {
      report.add(CheckStatus::kOk, label, path.string());
      check_password_exposure(report, path, file);
    }
  }
  if (settings_readable) {
    Ref<_clsIniFile> ini = create<_clsIniFile>("OvikEnvironment.clsIniFile");
    ini->put_Path(ini_folder.string());
    ini->put_FileName("Brindlemark.ini");
    check_keys(report, ini, at);
    check_connections(report, ini, at);
  } else {
    // The library reads an unreadable file as an empty one: every key would look missing.
    report.add(CheckStatus::kSkip, "sections, keys and connections", "Brindlemark.ini cannot be read");
  }
  check_folders(report, at);

  if (json)
    report.write_json(out, at.app.string());
  else
    report.write_text(out, at.app.string());
  return report.exit_status();
}

}  // namespace ovik::host
