// ovik_fleet: a chain's stores against one head-office server. N store processes each run a store
// program's flow over and over until the time is up: create the environment object, set the
// store's address, open the three databases, write one order with RecordToDatabase, print log
// entries through PrintApplog (each opens its own connection to the log database), close.
// Meanwhile the head-office server's client connections are sampled; afterwards every log entry
// must be in wkLog or in a day's file exactly once, and every order's lines in the order table
// exactly once. The settings a library connection may set in a server session must not have
// reached the sessions that later clients get through a pooling proxy.
//
// Run it from a copy of an application folder (scripts/fleet.sh makes one and starts the servers);
// it rewrites that folder's ini/Brindlemark.ini to point all three databases at the DSN.
//
//   ovik_fleet --dsn DSN --user U --password P [--database NAME] [--monitor-dsn DSN] [--stores N] [--seconds S]
//              [--entries K] [--label TEXT] [--expect-fallback]
//
// Prints the figures and one line per check; exit status 0 when every check holds. The figures
// are also printed as one line beginning "fleet-row" for the results table.
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
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
#include <thread>
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
using Clock = std::chrono::steady_clock;

namespace {

constexpr const char* kApp = "FLEET";
constexpr const char* kOrders = "fleet_orders";
constexpr int kLinesPerOrder = 3;

struct Options {
  std::string dsn, user, password, monitor_dsn, label;
  std::string database;  // empty: the DSN's own
  int stores = 20;
  int seconds = 20;
  int entries = 5;  // log entries a round
  bool expect_fallback = false;
};

// What one store reports to the parent through its pipe: a header line, then one line per
// log entry's time in microseconds.
struct Report {
  int store = 0;
  long rounds = 0;
  long orders_stored = 0;  // RecordToDatabase answered True
  long orders_failed = 0;
  long errors = 0;  // raised errors met in a round (it then goes on with the next round)
  long message_boxes = 0;
  std::string first_error;
  struct Entry {
    long round = 0;
    int k = 0;
    long us = 0;
  };
  std::vector<Entry> entries;
};

std::string entry_tag(int store, long round, int k) {
  return "fleet s" + std::to_string(store) + " r" + std::to_string(round) + " e" + std::to_string(k);
}


Ref<_Connection> open_dsn(const Options& o, const std::string& dsn) {
  Ref<_Connection> c = new_connection();
  c->Open("Provider=MSDASQL;Data Source=" + dsn + ";User ID=" + o.user + ";Password=" + o.password +
              (o.database.empty() ? "" : ";Initial Catalog=" + o.database),
          "", "", -1);
  return c;
}

Ref<_Recordset> query(Ref<_Connection>& c, const std::string& sql) {
  Variant affected;
  return c->Execute(sql, affected, -1);
}

std::string first_value(Ref<_Connection>& c, const std::string& sql) {
  Ref<_Recordset> rs = query(c, sql);
  if (rs->get_EOF()) return "";
  return rs->get_Fields()->get_Item(Variant(std::int32_t{0}))->get_Value().to_string();
}

bool is_mariadb(Ref<_Connection>& c) {
  try {
    return first_value(c, "select version()").find("MariaDB") != std::string::npos;
  } catch (const std::exception&) {
    return false;
  }
}

// ---- one store ----

Ref<_Recordset> order_of(int store, long round) {
  Ref<_Recordset> rs = new_recordset();
  Ref<Fields> fields = rs->get_Fields();
  fields->Append("StoreNo", ado::adInteger, 4, 0);
  fields->Append("RoundNo", ado::adInteger, 4, 0);
  fields->Append("LineNo", ado::adInteger, 4, 0);
  fields->Append("Item", ado::adVarWChar, 40, 0);
  fields->Append("Qty", ado::adInteger, 4, 0);
  rs->put_CursorLocation(ado::adUseClient);
  rs->Open(Variant(), Variant(), ado::adOpenStatic, ado::adLockOptimistic, -1);
  for (int line = 0; line < kLinesPerOrder; ++line) {
    rs->AddNew();
    rs->get_Fields()->get_Item(Variant(std::int32_t{0}))->put_Value(Variant(std::int32_t{store}));
    rs->get_Fields()->get_Item(Variant(std::int32_t{1}))->put_Value(Variant(static_cast<std::int32_t>(round)));
    rs->get_Fields()->get_Item(Variant(std::int32_t{2}))->put_Value(Variant(std::int32_t{line}));
    rs->get_Fields()->get_Item(Variant(std::int32_t{3}))->put_Value(Variant("item " + std::to_string(line) + " O'Neil"));
    rs->get_Fields()->get_Item(Variant(std::int32_t{4}))->put_Value(Variant(std::int32_t{line + 1}));
    rs->Update();
  }
  return rs;
}

Report store(int number, Clock::time_point deadline, const Options& o) {
  Report r;
  r.store = number;
  host_hooks::set_message_box_handler([&r](const host_hooks::MessageBox&) {
    ++r.message_boxes;
    return 1;
  });
  for (long round = 0; Clock::now() < deadline; ++round) {
    r.rounds = round + 1;
    try {
      Ref<_clsSystemInfo> si = create<_clsSystemInfo>("OvikEnvironment.clsSystemInfo");
      si->put_strGetIpAddress(o.dsn);  // an ODBC store address is the store's DSN
      si->OpenDatabase();
      Ref<_clsDatabase> db = si->get_DatabaseOfStore();
      bool stored = false;
      if (db) {
        Ref<_Recordset> rs = order_of(number, round);
        try {
          stored = db->RecordToDatabase(kOrders, rs);
        } catch (const std::exception& e) {
          if (r.errors++ == 0) r.first_error = std::string("RecordToDatabase: ") + e.what();
        }
      }
      ++(stored ? r.orders_stored : r.orders_failed);
      for (int k = 0; k < o.entries; ++k) {
        const auto start = Clock::now();
        si->PrintApplog(entry_tag(number, round, k), 1, kApp);
        r.entries.push_back({round, k,
                             static_cast<long>(std::chrono::duration_cast<std::chrono::microseconds>(
                                                   Clock::now() - start)
                                                   .count())});
      }
      si->CloseDatabase();
    } catch (const std::exception& e) {
      if (r.errors++ == 0) r.first_error = e.what();
    }
  }
  host_hooks::set_message_box_handler(nullptr);
  return r;
}

std::string to_text(const Report& r) {
  std::ostringstream s;
  std::string error = r.first_error;
  std::replace(error.begin(), error.end(), '\n', ' ');
  std::replace(error.begin(), error.end(), '\r', ' ');
  s << r.store << ' ' << r.rounds << ' ' << r.orders_stored << ' ' << r.orders_failed << ' ' << r.errors << ' '
    << r.message_boxes << ' ' << r.entries.size() << " |" << error << '\n';
  for (const Report::Entry& e : r.entries) s << e.round << ' ' << e.k << ' ' << e.us << '\n';
  return s.str();
}

Report from_text(const std::string& text) {
  Report r;
  std::istringstream s(text);
  std::size_t n = 0;
  s >> r.store >> r.rounds >> r.orders_stored >> r.orders_failed >> r.errors >> r.message_boxes >> n;
  std::getline(s, r.first_error);
  if (r.first_error.starts_with(" |")) r.first_error.erase(0, 2);
  r.entries.resize(n);
  for (Report::Entry& e : r.entries) s >> e.round >> e.k >> e.us;
  if (!s) r.entries.clear();
  return r;
}

// ---- the head office ----


// The client connections the server holds now, the sampler's own included.
long server_connections(Ref<_Connection>& monitor, bool mariadb) {
  const std::string sql = mariadb ? "select count(*) from information_schema.processlist where command <> 'Daemon'"
                                  : "select count(*) from pg_stat_activity where backend_type = 'client backend'";
  return std::stol(first_value(monitor, sql));
}

// The session settings a library connection could leave behind, as a new session sees them.
std::string session_settings(Ref<_Connection>& c, bool mariadb) {
  if (mariadb)
    return first_value(c, "select concat(@@session.lock_wait_timeout, ' ', @@session.innodb_lock_wait_timeout, ' ', "
                          "@@session.max_statement_time, ' ', @@session.sql_mode)");
  return first_value(c, "select current_setting('lock_timeout') || ' ' || current_setting('statement_timeout') || "
                        "' ' || current_setting('search_path') || ' ' || current_setting('idle_in_transaction_session_timeout')");
}

void prepare(const fs::path& app, const Options& o, bool mariadb) {
  Ref<_Connection> c = open_dsn(o, o.dsn);
  Variant affected;
  for (const std::string& table : {std::string("wkLog"), std::string(kOrders)}) {
    try {
      query(c, "drop table " + table);
    } catch (const std::exception&) {
      // not there yet
    }
  }
  // One statement at a time: not every driver runs several in one call.
  std::string statement;
  std::istringstream file(read_file(app / "sql" / (mariadb ? "wkLog.mariadb.sql" : "wkLog.postgresql.sql")));
  for (std::string line; std::getline(file, line);) {
    if (line.starts_with("--")) continue;
    statement += line + "\n";
    if (line.find_last_not_of(" \r") != std::string::npos && line[line.find_last_not_of(" \r")] == ';') {
      query(c, statement);
      statement.clear();
    }
  }
  if (statement.find_first_not_of(" \r\n") != std::string::npos) query(c, statement);
  query(c, std::string("create table ") + kOrders +
               " (StoreNo integer, RoundNo integer, LineNo integer, Item varchar(40), Qty integer)");
  c->Close();

  Ref<_clsIniFile> ini = create<_clsIniFile>("OvikEnvironment.clsIniFile");
  ini->put_Path((app / "ini").string());
  ini->put_FileName("Brindlemark.ini");
  for (const char* section : {"database", "master_database", "store_database"}) {
    ini->PutIni(section, "provider", "MSDASQL");
    if (std::string(section) != "store_database") ini->PutIni(section, "server", o.dsn);
    ini->PutIni(section, "database_user", o.user);
    ini->PutIni(section, "password", o.password);
    ini->PutIni(section, "database_name", o.database);
    ini->PutIni(section, "transaction_log", "false");
  }
  fs::remove_all(app / "bin/log");
  fs::remove_all(app / "bin/transaction_log");
}

long percentile(std::vector<long>& sorted, double p) {
  if (sorted.empty()) return 0;
  const auto at = static_cast<std::size_t>(p * static_cast<double>(sorted.size() - 1) + 0.5);
  return sorted[std::min(at, sorted.size() - 1)];
}

void check(const std::vector<Report>& reports, const fs::path& app, const Options& o, bool mariadb,
           long peak_connections, double seconds, Checks& checks) {
  std::set<std::string> expected;
  std::vector<long> times;
  long rounds = 0, stored = 0, failed = 0;
  std::string errors, boxes;
  for (const Report& r : reports) {
    rounds += r.rounds;
    stored += r.orders_stored;
    failed += r.orders_failed;
    if (r.errors != 0) errors += "store " + std::to_string(r.store) + ": " + std::to_string(r.errors) + " (" + r.first_error + ") ";
    if (r.message_boxes != 0) boxes += "store " + std::to_string(r.store) + ": " + std::to_string(r.message_boxes) + " ";
    for (const Report::Entry& e : r.entries) {
      times.push_back(e.us);
      expected.insert(entry_tag(r.store, e.round, e.k));
    }
  }
  if (!o.expect_fallback) {
    checks.expect(errors.empty(), "no store met a raised error", errors);
    checks.expect(boxes.empty(), "no store showed a message box", boxes);
    checks.expect(failed == 0, "every order was stored", std::to_string(failed) + " failed");
  }

  Ref<_Connection> c = open_dsn(o, o.monitor_dsn);
  std::map<std::string, int> seen;
  long in_table = 0, in_files = 0, connection_lines = 0;
  for (Ref<_Recordset> rs = query(c, std::string("select Comment from wkLog where ApplicationName = '") + kApp + "'");
       !rs->get_EOF(); rs->MoveNext()) {
    ++seen[rs->get_Fields()->get_Item(Variant(std::int32_t{0}))->get_Value().to_string()];
    ++in_table;
  }
  if (fs::exists(app / "bin/log")) {
    for (const auto& entry : fs::directory_iterator(app / "bin/log")) {
      std::istringstream lines(read_file(entry.path()));
      for (std::string line; std::getline(lines, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const std::size_t last_tab = line.rfind('\t');
        if (last_tab == std::string::npos) continue;
        const std::string text = line.substr(last_tab + 1);
        if (text.starts_with("fleet s")) {
          ++seen[text];
          ++in_files;
        } else {
          ++connection_lines;
        }
      }
    }
  }
  const std::string counted = compare_counts(seen, expected);
  checks.expect(counted.empty(), "each log entry is in wkLog or a day's file exactly once", counted);
  if (o.expect_fallback)
    checks.expect(in_files > 0, "with the pool exhausted, entries went to the day's files", "none did");

  // Orders: a stored order's lines once each; a failed one's lines at most once (a failing row stops
  // the insert, the rows before it stay).
  std::map<std::pair<int, long>, int> lines;
  long order_rows = 0, doubled_lines = 0;
  for (Ref<_Recordset> rs = query(c, std::string("select StoreNo, RoundNo, LineNo, count(*) from ") + kOrders +
                                         " group by StoreNo, RoundNo, LineNo");
       !rs->get_EOF(); rs->MoveNext()) {
    Ref<Fields> f = rs->get_Fields();
    const int s = std::stoi(f->get_Item(Variant(std::int32_t{0}))->get_Value().to_string());
    const long rd = std::stol(f->get_Item(Variant(std::int32_t{1}))->get_Value().to_string());
    const long n = std::stol(f->get_Item(Variant(std::int32_t{3}))->get_Value().to_string());
    order_rows += n;
    if (n > 1) ++doubled_lines;
    ++lines[{s, rd}];
  }
  long complete = 0;
  for (const auto& [key, n] : lines)
    if (n == kLinesPerOrder) ++complete;
  checks.expect(doubled_lines == 0, "no order line is stored twice", std::to_string(doubled_lines) + " doubled");
  checks.expect(complete >= stored, "every order a store saw stored has all its lines",
                std::to_string(complete) + " complete orders, " + std::to_string(stored) + " reported stored");

  // Sessions handed out after the run carry the server's defaults, not a setting of ours.
  const std::string defaults = session_settings(c, mariadb);
  std::string leaked;
  for (int i = 0; i < 8; ++i) {
    Ref<_Connection> pooled = open_dsn(o, o.dsn);
    const std::string now = session_settings(pooled, mariadb);
    if (now != defaults && leaked.empty()) leaked = "\"" + now + "\" instead of \"" + defaults + "\"";
  }
  checks.expect(leaked.empty(), "no session setting reached a later client", leaked);

  std::sort(times.begin(), times.end());
  const double per_second = seconds > 0 ? static_cast<double>(times.size()) / seconds : 0;
  std::printf("stores %zu, rounds %ld, orders %ld stored / %ld failed (%ld rows), log entries %zu (%ld in wkLog, "
              "%ld in files, %ld connect-failure lines)\n",
              reports.size(), rounds, stored, failed, order_rows, times.size(), in_table, in_files, connection_lines);
  std::printf("entries/s %.0f, time per entry p50 %.1f ms, p99 %.1f ms, max %.1f ms, server connections at peak %ld\n",
              per_second, percentile(times, 0.50) / 1000.0, percentile(times, 0.99) / 1000.0,
              times.empty() ? 0.0 : times.back() / 1000.0, peak_connections);
  std::printf("fleet-row | %s | %zu | %.0f | %.1f | %.1f | %ld | %ld | %ld |\n", o.label.c_str(), reports.size(),
              per_second, percentile(times, 0.50) / 1000.0, percentile(times, 0.99) / 1000.0, peak_connections,
              in_files, failed);
}

int usage() {
  std::cerr << "usage: ovik_fleet --dsn DSN --user U --password P [--database NAME] [--monitor-dsn DSN] [--stores N] "
               "[--seconds S] [--entries K] [--label TEXT] [--expect-fallback]\n";
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--expect-fallback") {
      o.expect_fallback = true;
      continue;
    }
    if (i + 1 >= argc) return usage();
    const std::string value = argv[++i];
    if (arg == "--dsn") o.dsn = value;
    else if (arg == "--monitor-dsn") o.monitor_dsn = value;
    else if (arg == "--user") o.user = value;
    else if (arg == "--password") o.password = value;
    else if (arg == "--label") o.label = value;
    else if (arg == "--database") o.database = value;
    else if (arg == "--stores") o.stores = std::atoi(value.c_str());
    else if (arg == "--seconds") o.seconds = std::atoi(value.c_str());
    else if (arg == "--entries") o.entries = std::atoi(value.c_str());
    else return usage();
  }
  if (o.dsn.empty() || o.stores < 1 || o.seconds < 1 || o.entries < 1) return usage();
  if (o.monitor_dsn.empty()) o.monitor_dsn = o.dsn;
  if (o.label.empty()) o.label = o.dsn;

  const fs::path app = fs::path(platform::Facility<platform::ModulePath>::get().module().folder).parent_path();
  bool mariadb = false;
  try {
    Ref<_Connection> c = open_dsn(o, o.monitor_dsn);
    mariadb = is_mariadb(c);
    c->Close();
    prepare(app, o, mariadb);
  } catch (const std::exception& e) {
    std::cerr << "cannot prepare the head office (" << o.dsn << "): " << e.what() << "\n";
    return 2;
  }
  std::cout << o.label << ": " << o.stores << " stores for " << o.seconds << " s, " << o.entries
            << " log entries a round, " << (mariadb ? "MariaDB" : "PostgreSQL") << "\n";

  const auto start = Clock::now();
  const auto deadline = start + std::chrono::seconds(o.seconds);
  // The stores end without the leak checker's pass: with a sanitizer, its stop-the-world tracer
  // crashed now and then in one of hundreds of processes ending at once (the load run and the
  // test programs check the same code for leaks); the parent is still checked.
  const auto children =
      load::start_children(o.stores, [&](int s) { return to_text(store(s, deadline, o)); }, false);
  if (!children) return 2;

  // The sampler runs in the parent while the stores work; it has its own direct connection.
  std::atomic<bool> done{false};
  std::atomic<long> peak{0};
  std::thread sampler([&] {
    try {
      Ref<_Connection> monitor = open_dsn(o, o.monitor_dsn);
      while (!done) {
        peak = std::max(peak.load(), server_connections(monitor, mariadb) - 1);
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
      }
    } catch (const std::exception& e) {
      std::cerr << "sampler: " << e.what() << "\n";
    }
  });

  Checks checks;
  std::vector<Report> reports;
  for (const std::string& text : load::collect_reports(*children, "store", checks)) reports.push_back(from_text(text));
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  done = true;
  sampler.join();
  try {
    check(reports, app, o, mariadb, peak, seconds, checks);
  } catch (const std::exception& e) {
    checks.expect(false, "the head office could be read", e.what());
  }
  std::cout << (checks.failed() ? "fleet run FAILED" : "fleet run passed") << "\n";
  return checks.failed() ? 1 : 0;
}
