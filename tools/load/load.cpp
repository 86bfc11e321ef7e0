// ovik_load: several processes use the library at once for a while, as the store programs of one
// workstation do, and each reports what it wrote; then every store is counted against those
// reports: nothing lost, nothing torn, nothing doubled, no settings update lost.
//
// Each process repeats, until its time is up: create the environment object, open the databases
// (the application database traces its statements), run one traced statement, write one log
// entry with the log database on and one with it switched off (an address that names no
// database, so the entry goes to the day's file), write one setting, close the databases.
//
// Run it from a copy of an application folder (scripts/load.sh makes one): it writes that folder's
// databases, log and trace files and ini/load.ini.
//
//   ovik_load [--processes N] [--seconds S]
//
// Prints one line per process (iterations, what it wrote, resident memory at its start, after its
// first round and at its end) and one line per check; exit status 0 when every check holds.
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "ovik/component.h"
#include "ovik/data_access.h"
#include "ovik/database.h"
#include "ovik/environment.h"
#include "ovik/host.h"
#include "ovik/system_info.h"
#include "platform/module_info.h"
#include "processes.h"

namespace fs = std::filesystem;
using namespace ovik;
using ovik::load::Checks;
using ovik::load::compare_counts;
using ovik::load::read_file;

namespace {

constexpr const char* kApp = "LOADAPP";
constexpr int kKeysPerProcess = 50;  // settings keys a process cycles through

struct Report {
  int process = 0;
  long iterations = 0;
  long errors = 0;           // raised errors, which a round must not meet
  long settings_failed = 0;  // PutIni answers other than "1"
  long message_boxes = 0;
  long rss_start_kb = 0, rss_warm_kb = 0, rss_end_kb = 0;
  std::string first_error;
};

long rss_kb() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);)
    if (line.starts_with("VmRSS:")) return std::strtol(line.c_str() + 6, nullptr, 10);
  return -1;
}

std::string tag(int process, long iteration) {
  return "load p" + std::to_string(process) + " i" + std::to_string(iteration);
}

std::string key_of(int process, long iteration) {
  return "p" + std::to_string(process) + "_k" + std::to_string(iteration % kKeysPerProcess);
}


std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) {
      lines.push_back(text.substr(start));  // no line break: a torn last line
      break;
    }
    lines.push_back(text.substr(start, end + 1 - start));
    start = end + 1;
  }
  return lines;
}

// ---- one process ----

Report work(int process, std::chrono::steady_clock::time_point deadline, const std::string& ini_folder) {
  Report r;
  r.process = process;
  r.rss_start_kb = rss_kb();
  host_hooks::set_message_box_handler([&r](const host_hooks::MessageBox&) {
    ++r.message_boxes;
    return 1;
  });
  for (long i = 0; std::chrono::steady_clock::now() < deadline; ++i) {
    try {
      Ref<_clsSystemInfo> si = create<_clsSystemInfo>("OvikEnvironment.clsSystemInfo");
      si->OpenDatabase();
      Ref<_clsDatabase> db = si->get_Database();
      if (!db) throw RaisedError(91, "ovik_load", "the application database did not open");
      Variant affected;
      db->get_Connection()->Execute("select '" + tag(process, i) + "'", affected, -1);
      si->PrintApplog(tag(process, i) + " db", 1, kApp);
      si->put_strGetIpAddress("data/switched-off.db");  // names no database: the entry goes to the file
      si->PrintApplog(tag(process, i) + " file", 2, kApp);
      si->put_strGetIpAddress("");

      Ref<_clsIniFile> ini = create<_clsIniFile>("OvikEnvironment.clsIniFile");
      ini->put_Path(ini_folder);
      ini->put_FileName("load.ini");
      std::string section = "load", key = key_of(process, i), value = std::to_string(i);
      if (ini->PutIni(section, key, value) != "1") ++r.settings_failed;
      si->CloseDatabase();
    } catch (const std::exception& e) {
      if (r.errors++ == 0) r.first_error = e.what();
    }
    r.iterations = i + 1;
    if (i == 0) r.rss_warm_kb = rss_kb();
  }
  r.rss_end_kb = rss_kb();
  host_hooks::set_message_box_handler(nullptr);
  return r;
}

std::string to_line(const Report& r) {
  std::ostringstream s;
  s << r.process << ' ' << r.iterations << ' ' << r.errors << ' ' << r.settings_failed << ' '
    << r.message_boxes << ' ' << r.rss_start_kb << ' ' << r.rss_warm_kb << ' ' << r.rss_end_kb << ' '
    << r.first_error;
  return s.str();
}

Report from_line(const std::string& line) {
  Report r;
  std::istringstream s(line);
  s >> r.process >> r.iterations >> r.errors >> r.settings_failed >> r.message_boxes >> r.rss_start_kb >>
      r.rss_warm_kb >> r.rss_end_kb;
  std::getline(s >> std::ws, r.first_error);
  return r;
}

// ---- checks ----


void check(const std::vector<Report>& reports, const fs::path& app, Checks& checks) {
  std::set<std::string> db_entries, file_entries, statements;
  long rounds = 0;
  std::string errors, boxes, refused;
  for (const Report& r : reports) {
    rounds += r.iterations;
    const std::string who = "process " + std::to_string(r.process);
    if (r.errors != 0) errors += who + ": " + std::to_string(r.errors) + " (" + r.first_error + ") ";
    if (r.message_boxes != 0) boxes += who + ": " + std::to_string(r.message_boxes) + " ";
    if (r.settings_failed != 0) refused += who + ": " + std::to_string(r.settings_failed) + " ";
    for (long i = 0; i < r.iterations; ++i) {
      db_entries.insert(tag(r.process, i) + " db");
      file_entries.insert(tag(r.process, i) + " file");
      statements.insert("select '" + tag(r.process, i) + "'");
    }
  }
  checks.expect(errors.empty(), "no process met an error", errors);
  checks.expect(boxes.empty(), "no process showed a message box", boxes);
  checks.expect(refused.empty(), "every PutIni answered 1", refused);

  // The log table and the log files: each "db" entry once in the table or (its insert having
  // waited too long for a lock) once in a file; each "file" entry once in a file.
  std::map<std::string, int> in_table, in_files;
  {
    Ref<_Connection> c = new_connection();
    c->Open("Provider=SQLite;Data Source=" + (app / "data/app.db").string(), "", "", -1);
    Variant affected;
    Ref<_Recordset> rs = c->Execute("select Comment from wkLog where ApplicationName = '" +
                                        std::string(kApp) + "' and Title = 'application log'",
                                    affected, -1);
    for (; !rs->get_EOF(); rs->MoveNext())
      ++in_table[rs->get_Fields()->get_Item(Variant(std::int32_t{0}))->get_Value().to_string()];
  }
  long log_lines = 0, torn_log_lines = 0, connection_lines = 0;
  std::string torn_example;
  for (const auto& entry : fs::directory_iterator(app / "bin/log")) {
    const std::string name = entry.path().filename().string();
    if (!name.starts_with(kApp)) continue;
    for (const std::string& line : lines_of(read_file(entry.path()))) {
      ++log_lines;
      std::vector<std::string> fields;
      std::size_t start = 0;
      for (std::size_t tab; (tab = line.find('\t', start)) != std::string::npos; start = tab + 1)
        fields.push_back(line.substr(start, tab - start));
      fields.push_back(line.substr(start));
      if (fields.size() != 6 || !line.ends_with("\r\n") || fields[0].size() != 19) {
        if (torn_log_lines++ == 0) torn_example = line;
        continue;
      }
      const std::string text = fields[5].substr(0, fields[5].size() - 2);
      if (fields[4] == "ServerConnectionString") {
        ++connection_lines;
      } else if (fields[4] == "PutLog") {
        // the reason an entry of the log database went to the file, on the line before it
      } else {
        ++in_files[text];
      }
    }
  }
  checks.expect(torn_log_lines == 0, "every log line is whole (6 fields, CR LF)",
                std::to_string(torn_log_lines) + " torn, e.g. \"" + torn_example + "\"");
  std::map<std::string, int> db_seen, file_seen;
  long db_to_file = 0;
  for (const auto& [text, n] : in_table) db_seen[text] += n;
  for (const auto& [text, n] : in_files) {
    if (db_entries.contains(text)) {
      db_seen[text] += n;
      db_to_file += n;
    } else {
      file_seen[text] += n;
    }
  }
  checks.expect(compare_counts(db_seen, db_entries).empty(),
                "each entry for the log database is in wkLog or, after a lock wait, in a file, once",
                compare_counts(db_seen, db_entries));
  checks.expect(compare_counts(file_seen, file_entries).empty(),
                "each entry with the log database switched off is in a file, once",
                compare_counts(file_seen, file_entries));
  checks.expect(connection_lines >= static_cast<long>(file_entries.size()),
                "each switched-off entry left its ServerConnectionString line",
                std::to_string(connection_lines) + " lines");

  // The trace: every line whole and in its layout; each traced statement once; one connect and
  // one disconnect (each framed by a rule) per round.
  std::map<std::string, int> traced;
  long trace_lines = 0, torn_trace_lines = 0, connects = 0, disconnects = 0;
  torn_example.clear();
  for (const auto& entry : fs::directory_iterator(app / "bin/transaction_log")) {
    for (const std::string& line : lines_of(read_file(entry.path()))) {
      ++trace_lines;
      // "/* yyyy/mm/dd hh:mm:ss  active form : " + 15 blanks (no form here) + "*/  " + text + CR LF
      const bool whole = line.size() >= 59 && line.starts_with("/* ") &&
                         line.compare(22, 16, "  active form : ") == 0 &&
                         line.compare(38, 19, std::string(15, ' ') + "*/  ") == 0 && line.ends_with("\r\n");
      if (!whole) {
        if (torn_trace_lines++ == 0) torn_example = line;
        continue;
      }
      const std::string text = line.substr(57, line.size() - 59);
      if (text.starts_with("select 'load p")) ++traced[text];
      if (text.starts_with("-- Connected To [")) ++connects;
      if (text == "-- Disconnected") ++disconnects;
    }
  }
  checks.expect(torn_trace_lines == 0, "every trace line is whole",
                std::to_string(torn_trace_lines) + " torn, e.g. \"" + torn_example + "\"");
  checks.expect(compare_counts(traced, statements).empty(), "each traced statement is in the trace once",
                compare_counts(traced, statements));
  checks.expect(connects == rounds && disconnects == rounds,
                "one connect and one disconnect traced per round",
                std::to_string(connects) + " connects, " + std::to_string(disconnects) + " disconnects, " +
                    std::to_string(rounds) + " rounds");

  // Settings: each key holds the last value its process wrote.
  long wrong = 0;
  std::string wrong_example;
  Ref<_clsIniFile> ini = create<_clsIniFile>("OvikEnvironment.clsIniFile");
  ini->put_Path((app / "ini").string());
  ini->put_FileName("load.ini");
  for (const Report& r : reports) {
    for (long i = std::max(0L, r.iterations - kKeysPerProcess); i < r.iterations; ++i) {
      std::string section = "load", key = key_of(r.process, i), value;
      try {
        value = ini->GetIni(section, key);
      } catch (const RaisedError&) {
        value = "(missing)";
      }
      if (value != std::to_string(i) && wrong++ == 0)
        wrong_example = key + "=" + value + ", not " + std::to_string(i);
    }
  }
  checks.expect(wrong == 0, "every setting holds the last value written", wrong_example);

  std::cout << "rounds " << rounds << ", log entries " << 2 * rounds << " (" << in_table.size()
            << " in wkLog, " << db_to_file << " of them in a file after a lock wait), log lines " << log_lines
            << ", trace lines " << trace_lines << ", settings writes " << rounds << "\n";
}

// Creates the application's databases afresh: wkLog in the application database, an empty master.
void prepare(const fs::path& app) {
  fs::create_directories(app / "data");
  for (const char* name : {"app.db", "master.db"}) {
    fs::remove(app / "data" / name);
    Ref<_Connection> c = new_connection();
    c->Open("Provider=SQLite;Create If Missing=True;Data Source=" + (app / "data" / name).string(), "", "",
            -1);
    if (std::string(name) == "app.db") {
      Variant affected;
      c->Execute(read_file(app / "sql/wkLog.sqlite.sql"), affected, -1);
    }
  }
  fs::remove_all(app / "bin/log");
  fs::remove_all(app / "bin/transaction_log");
  fs::remove(app / "ini/load.ini");
  std::ofstream(app / "ini/load.ini", std::ios::binary) << "[load]\r\n";
}

}  // namespace

int main(int argc, char** argv) {
  int processes = 8;
  int seconds = 60;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--processes") == 0) processes = std::atoi(argv[i + 1]);
    if (std::strcmp(argv[i], "--seconds") == 0) seconds = std::atoi(argv[i + 1]);
  }
  if (processes < 1 || seconds < 1) {
    std::cerr << "usage: ovik_load [--processes N] [--seconds S]\n";
    return 2;
  }
  const fs::path app =
      fs::path(platform::Facility<platform::ModulePath>::get().module().folder).parent_path();
  std::cout << "application folder " << app.string() << ": " << processes << " processes for " << seconds
            << " s\n";
  try {
    prepare(app);
  } catch (const std::exception& e) {
    std::cerr << "cannot prepare " << app.string() << ": " << e.what() << "\n";
    return 2;
  }

  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  const auto children = load::start_children(
      processes, [&](int p) { return to_line(work(p, deadline, (app / "ini").string())) + "\n"; });
  if (!children) return 2;
  Checks checks;
  std::vector<Report> reports;
  for (const std::string& line : load::collect_reports(*children, "process", checks))
    reports.push_back(from_line(line));
  std::cout << "process  rounds  RSS start  after 1st round  at end (kB)\n";
  for (const Report& r : reports) {
    std::printf("%7d %7ld %10ld %16ld %7ld\n", r.process, r.iterations, r.rss_start_kb, r.rss_warm_kb,
                r.rss_end_kb);
  }
  std::cout.flush();
  try {
    check(reports, app, checks);
  } catch (const std::exception& e) {
    checks.expect(false, "the stores could be read", e.what());
  }
  std::cout << (checks.failed() ? "load run FAILED" : "load run passed") << "\n";
  return checks.failed() ? 1 : 0;
}
