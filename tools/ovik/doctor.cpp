// `ovik doctor [FOLDER]`: checks an installation as an administrator would before the store opens:
// the ini folder and both settings files, every section and key the library reads (with the line
// to add when one is missing), each database connection with the provider's own error, and
// whether the log and trace folders can be written. One line per check; non-zero exit on a failure.
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <ostream>
#include <system_error>

#include "commands.h"
#include "database/access/connection_string.h"
#include "database/access/sqlite/sqlite_driver.h"
#include "database/database.h"
#include "ovik/component.h"
#include "ovik/environment.h"
#include "platform/locale_rules.h"
#include "platform/module_info.h"

namespace ovik::host {

namespace {

namespace fs = std::filesystem;

class Report {
 public:
  explicit Report(std::ostream& out) : out_(out) {}
  void ok(const std::string& what) { out_ << "ok    " << what << "\n"; }
  void fail(const std::string& what, const std::string& why) {
    out_ << "FAIL  " << what << ": " << why << "\n";
    ++failures_;
  }
  void note(const std::string& what) { out_ << "      " << what << "\n"; }
  // The closing line; the exit status.
  int finish(std::ostream& out) const {
    out << (failures_ == 0 ? "all checks passed\n" : std::to_string(failures_) + " check(s) failed\n");
    return failures_ == 0 ? 0 : 1;
  }

 private:
  std::ostream& out_;
  int failures_ = 0;
};

std::optional<std::string> setting(const Ref<_clsIniFile>& ini, const std::string& section, const std::string& key) {
  try {
    std::string s = section, k = key;
    return ini->GetIni(s, k);
  } catch (const RaisedError&) {
    return std::nullopt;
  }
}

// A folder the library must write to: it exists and takes a file, or it can be created.
void check_writable(Report& report, const std::string& label, const fs::path& folder) {
  std::error_code ec;
  const fs::path probe_in = fs::exists(folder, ec) ? folder : folder.parent_path();
  if (!fs::is_directory(probe_in, ec)) {
    report.fail(label + " " + folder.string(), "neither it nor its parent folder exists");
    return;
  }
  if (::access(probe_in.c_str(), W_OK | X_OK) != 0) {
    report.fail(label + " " + folder.string(), probe_in.string() + " is not writable for this user");
    return;
  }
  report.ok(label + " " + folder.string() + (probe_in == folder ? " is writable" : " can be created"));
}

void check_folders(Report& report, const fs::path& bin) {
  check_writable(report, "log folder", bin / "log");
  check_writable(report, "trace folder", bin / "transaction_log");
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

}  // namespace

int run_doctor(const std::vector<std::string>& args, std::ostream& out, std::ostream&) {
  Report report(out);
  const platform::ModuleInfo module = platform::Facility<platform::ModulePath>::get().module();
  const fs::path app = args.empty() ? fs::path(module.folder).parent_path() : fs::path(args[0]);
  const fs::path bin = args.empty() ? fs::path(module.folder) : app / "bin";
  const fs::path ini_folder = app / "ini";
  out << "checking the application folder " << app.string() << "\n";

  std::error_code ec;
  if (fs::is_directory(ini_folder, ec))
    report.ok("settings folder " + ini_folder.string());
  else
    report.fail("settings folder " + ini_folder.string(), "missing");
  bool settings_readable = true;
  for (const char* file : {"Brindlemark.ini", "menu.ini"}) {
    const fs::path path = ini_folder / file;
    const std::string label = std::string("settings file ") + file;
    // A missing file keeps the key checks below: their lines to add are what it should hold.
    if (!fs::exists(path, ec) && !ec) {
      report.fail(label, "missing");
    } else if (const std::string why = unreadable(path); !why.empty()) {
      report.fail(label, why);
      if (std::string(file) == "Brindlemark.ini") settings_readable = false;
    } else {
      report.ok(label);
    }
  }
  if (!settings_readable) {
    // The library reads an unreadable file as an empty one: every key would look missing.
    report.note("sections, keys and connections not checked: Brindlemark.ini cannot be read");
    check_folders(report, bin);
    return report.finish(out);
  }

  Ref<_clsIniFile> ini = create<_clsIniFile>("OvikEnvironment.clsIniFile");
  ini->put_Path(ini_folder.string());
  ini->put_FileName("Brindlemark.ini");
  auto require = [&](const std::string& section, const std::string& key, const char* example, bool integer) {
    auto value = setting(ini, section, key);
    const std::string what = "[" + section + "] " + key;
    if (!value) {
      report.fail(what, std::string("missing; add under [") + section + "]: " + key + "=" + example);
      return value;
    }
    std::int32_t n = 0;
    if (integer && platform::parse_int32(*value, n) != platform::ConvStatus::Ok) {
      report.fail(what, "\"" + *value + "\" is not a whole number");
      return value;
    }
    report.ok(what + (key == "password" ? " is set" : " = " + *value));
    return value;
  };

  for (const char* section : {"database", "master_database", "store_database"}) {
    require(section, "provider", "SQLite", false);
    if (std::string(section) != "store_database") require(section, "server", "/path/of/the/database.db", false);
    require(section, "database_user", "", false);
    require(section, "password", "", false);
    require(section, "database_name", "main", false);
    require(section, "transaction_log", "false", false);
  }
  require("accountitem", "accitem_store", "0", true);
  require("accountitem", "accitem_petty", "0", true);
  require("Financial", "server", "", false);
  require("Financial", "database", "", false);
  require("journalpattern", "jouptn_tenant", "0", true);
  require("getposinfoimport", "pos_file", "/path/of/pos.csv", false);
  require("getposinfoimport", "employee_file", "/path/of/employee.csv", false);
  require("getposinfoimport", "bat_file_path", "/path/of/import.sh", false);
  report.note("[headoffice] headoffice_<company code> keys are read per company and cannot be checked here");

  // The application and master databases; the store database needs the store's address, which
  // only the client program knows.
  for (const char* section : {"database", "master_database"}) {
    auto provider = setting(ini, section, "provider");
    auto server = setting(ini, section, "server");
    auto user = setting(ini, section, "database_user");
    auto password = setting(ini, section, "password");
    auto name = setting(ini, section, "database_name");
    if (!provider || !server || !user || !password || !name) {
      report.fail(std::string("connection of [") + section + "]", "its settings are incomplete");
      continue;
    }
    Ref<_clsConnectString> cs = create<_clsConnectString>("OvikEnvironment.clsConnectString");
    cs->SetProvider(*provider);
    // A relative SQLite file is the one of the folder checked here, wherever this program lies.
    const bool sqlite = access::classify_provider(*provider) == access::ProviderKind::kSqlite;
    cs->SetServer(sqlite ? access::sqlite_database_path(*server, bin.string()) : *server);
    cs->SetUser(*user);
    cs->SetPassword(*password);
    cs->SetInitialDatabase(*name);
    Ref<_clsDatabase> db = make_object<clsDatabase>();
    db->put_ConnectionTimeout(10);
    try {
      if (db->Connect(cs->GetValue(), HowToConnectEnum::ConnectByConnectionString)) {
        report.ok(std::string("connection of [") + section + "] to " + *server);
        db->Disconnect();
      } else {
        report.fail(std::string("connection of [") + section + "]", db->get_ErrorMsg());
      }
    } catch (const RaisedError& e) {
      report.fail(std::string("connection of [") + section + "]", one_line(e.description()));
    }
  }

  check_folders(report, bin);
  return report.finish(out);
}

}  // namespace ovik::host
