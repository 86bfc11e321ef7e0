// Workload 5: one application-log line appended to a daily file, and an entry written the way the
// environment object writes it.
//  - the library: clsLog in file mode (no log database), one object, PutLog per entry: day's file
//    name, the formatted line (date, time, process, user, application, title, text), code page
//    conversion, the open, the locked append and the close of the day's file;
//  - the library, one new log object per entry as PrintApplog makes them when the log database
//    cannot be reached (the purge at creation, the purge PrintApplog asks for, the entry, the
//    release), without the settings reads and the connection attempt;
//  - POCO FileChannel (keeps its file open, flushes each line, rotation at local midnight): fed a
//    preformatted line, and behind a Logger + FormattingChannel(PatternFormatter) that formats the
//    same six fields;
//  - the floor: open(O_APPEND)/write/close of one preformatted line.
// What the design costs besides (not compared with anything): PrintApplog end to end with the log
// database out of reach (five settings reads, a failed connection and its own line, then the
// entry), and with an SQLite log database (a connection per entry) against one log object that
// keeps its connection.
//
// The log folder is made, with the day's files, before the cases and left alone for a few seconds,
// as a store's folder is after the day's first entry: the purge then finds it settled.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sqlite3.h>
#include <unistd.h>

#include "peers_common.h"
#if OVIK_PEER_POCO
#include <Poco/AutoPtr.h>
#include <Poco/FileChannel.h>
#include <Poco/FormattingChannel.h>
#include <Poco/Logger.h>
#include <Poco/Message.h>
#include <Poco/PatternFormatter.h>
#endif

#include <algorithm>
#include <chrono>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "environment/system_info.h"
#include "logging/log.h"
#include "ovik/component.h"
#include "ovik/environment.h"
#include "platform/module_info.h"
#include "platform/system_info.h"

namespace {

using namespace ovik;

const std::string kTitle = "application log";
const std::string kText = "an entry of about sixty characters written to the day's file";
const std::string kLine = "2024/01/05 09:03:00\t1234\tuser01\tOvik2Environment\tapplication log\tan entry of about "
                          "sixty characters written to the day's file\r\n";

std::string today() {
  char day[16];
  const time_t t = time(nullptr);
  tm local{};
  localtime_r(&t, &local);
  strftime(day, sizeof day, "%y%m%d", &local);
  return day;
}

// The application folder of the run: bin/log with the day's files, ini/Brindlemark.ini, data/.
class BenchFolder final : public platform::ModulePath {
 public:
  BenchFolder() {
    namespace fs = std::filesystem;
    fs::create_directories(scratch_.path() / "bin/log");
    fs::create_directories(scratch_.path() / "ini");
    fs::create_directories(scratch_.path() / "data");
    const std::string user = platform::Facility<platform::SystemInfo>::get().user_name();
    // Every file the cases write to is there before they start: none of them changes the folder.
    for (const std::string stem : {"Ovik2Environment", "POS", "PocoPlain", "PocoFormatted", "Floor"})
      for (const std::string& name : {user, std::string("user01")})
        std::ofstream(log_file(stem, name), std::ios::binary) << kLine;
    std::ofstream(scratch_.path() / "ini/Brindlemark.ini", std::ios::binary)
        << "[database]\r\nprovider=SQLite\r\nserver=data/log.db\r\ndatabase_user=\r\npassword=\r\n"
           "database_name=main\r\ntransaction_log=false\r\n";
    sqlite3* db = nullptr;
    sqlite3_open((root() + "/data/log.db").c_str(), &db);
    sqlite3_exec(db,
                 "PRAGMA journal_mode=WAL;"
                 "CREATE TABLE wkLog (ProcessID INTEGER NOT NULL, LogonUserName VARCHAR(255) NOT NULL,"
                 " ApplicationName VARCHAR(255) NOT NULL, AmendDate DATETIME NOT NULL, Title VARCHAR(255) NOT NULL,"
                 " Comment TEXT NOT NULL);"
                 "CREATE INDEX wkLog_App_Date ON wkLog (ApplicationName, AmendDate);",
                 nullptr, nullptr, nullptr);
    sqlite3_close(db);
    std::this_thread::sleep_for(std::chrono::milliseconds(2500));  // settled, as after the day's first entry
  }
  platform::ModuleInfo module() override { return {root() + "/bin", "Ovik2Environment"}; }
  std::string root() const { return scratch_.path().string(); }
  std::string log_file(const std::string& stem, const std::string& user = "user01") const {
    return root() + "/bin/log/" + stem + today() + "-" + user + ".LOG";
  }

 private:
  peers::ScratchFolder scratch_{"log-peers"};
  platform::ScopedFake<platform::ModulePath> guard_{*this};
};

BenchFolder& folder() {
  static BenchFolder made;
  return made;
}

// The last line of the one file in the log folder whose name begins with `stem` must hold six
// TAB-separated fields and end with the entry's text.
void check_last_line(benchmark::State& state, const std::string& stem) {
  std::string found;
  for (const auto& entry : std::filesystem::directory_iterator(folder().root() + "/bin/log"))
    if (entry.path().filename().string().rfind(stem, 0) == 0) found = entry.path().string();
  std::ifstream in(found, std::ios::binary);
  std::string line, last;
  while (std::getline(in, line))
    if (!line.empty()) last = line;
  if (!last.empty() && last.back() == '\r') last.pop_back();
  const auto tabs = std::count(last.begin(), last.end(), '\t');
  if (found.empty() || tabs != 5 || !last.ends_with(kText))
    state.SkipWithError(("unexpected log line in " + found + ": " + last).c_str());
}

// ---- the library -------------------------------------------------------------------------------

void BM_Log_Ovik_PutLogFileMode(benchmark::State& state) {
  folder();
  Ref<clsLog> log = make_object<clsLog>();
  std::string title = kTitle, text = kText;
  for (auto _ : state) log->PutLog(title, text);
  check_last_line(state, "Ovik2Environment");
}

// PrintApplog's steps 2, 5, 6 and 7 for a log database out of reach.
void BM_Log_Ovik_NewLogPerEntry(benchmark::State& state) {
  folder();
  std::string title = kTitle, text = kText;
  for (auto _ : state) {
    Ref<clsLog> log = make_object<clsLog>();
    log->DelLog(30);
    log->PutLog(title, text);
  }
  check_last_line(state, "Ovik2Environment");
}

Ref<_clsSystemInfo> environment() {
  return create<_clsSystemInfo>("OvikEnvironment.clsSystemInfo");
}

void BM_Log_Ovik_PrintApplogUnreachable(benchmark::State& state) {
  folder();
  Ref<_clsSystemInfo> si = environment();
  si->put_strGetIpAddress("data/switched-off.db");  // no such file: the log writes to its file
  for (auto _ : state) si->PrintApplog(kText, 2, "POS");
  check_last_line(state, "POS");
}

std::int64_t rows_of_log() {
  sqlite3* db = nullptr;
  sqlite3_stmt* statement = nullptr;
  std::int64_t rows = -1;
  if (sqlite3_open((folder().root() + "/data/log.db").c_str(), &db) == SQLITE_OK &&
      sqlite3_prepare_v2(db, "select count(*) from wkLog", -1, &statement, nullptr) == SQLITE_OK &&
      sqlite3_step(statement) == SQLITE_ROW)
    rows = sqlite3_column_int64(statement, 0);
  sqlite3_finalize(statement);
  sqlite3_close(db);
  return rows;
}

void BM_Log_Ovik_PrintApplogSQLite(benchmark::State& state) {
  folder();
  Ref<_clsSystemInfo> si = environment();
  const std::int64_t before = rows_of_log();
  for (auto _ : state) si->PrintApplog(kText, 1, "");
  if (rows_of_log() - before != static_cast<std::int64_t>(state.iterations()))
    state.SkipWithError("an entry did not reach wkLog");
}

void BM_Log_Ovik_PutLogConnectedSQLite(benchmark::State& state) {
  folder();
  Ref<clsLog> log = make_object<clsLog>();
  log->put_ServerConnectionString("Provider=SQLite;Data Source=" + folder().root() + "/data/log.db");
  if (!log->is_connected()) state.SkipWithError("the log did not connect");
  const std::int64_t before = rows_of_log();
  std::string title = kTitle, text = kText;
  for (auto _ : state) log->PutLog(title, text);
  if (rows_of_log() - before != static_cast<std::int64_t>(state.iterations()))
    state.SkipWithError("an entry did not reach wkLog");
}

// ---- POCO --------------------------------------------------------------------------------------

#if OVIK_PEER_POCO
Poco::AutoPtr<Poco::FileChannel> poco_file_channel(const std::string& path) {
  Poco::AutoPtr<Poco::FileChannel> channel(new Poco::FileChannel(path));
  channel->setProperty("rotation", "00:00");  // a new file at local midnight
  channel->setProperty("times", "local");
  channel->setProperty("archive", "timestamp");
  channel->setProperty("flush", "true");  // the default: each line reaches the file at once
  channel->open();
  return channel;
}

void BM_Log_Poco_FileChannelPreformatted(benchmark::State& state) {
  Poco::AutoPtr<Poco::FileChannel> channel = poco_file_channel(folder().log_file("PocoPlain"));
  // The line without its CR LF: the channel ends each line itself.
  const Poco::Message message("Ovik2Environment", kLine.substr(0, kLine.size() - 2), Poco::Message::PRIO_INFORMATION);
  for (auto _ : state) channel->log(message);
  channel->close();
  check_last_line(state, "PocoPlain");
}

void BM_Log_Poco_LoggerPatternFileChannel(benchmark::State& state) {
  Poco::AutoPtr<Poco::FileChannel> file = poco_file_channel(folder().log_file("PocoFormatted"));
  Poco::AutoPtr<Poco::PatternFormatter> formatter(
      new Poco::PatternFormatter("%Y/%m/%d %H:%M:%S\t%P\tuser01\t%s\t%t"));
  formatter->setProperty("times", "local");
  Poco::AutoPtr<Poco::FormattingChannel> channel(new Poco::FormattingChannel(formatter, file));
  Poco::Logger& logger = Poco::Logger::create("Ovik2Environment", channel, Poco::Message::PRIO_INFORMATION);
  for (auto _ : state) logger.information(kTitle + "\t" + kText);
  Poco::Logger::destroy("Ovik2Environment");
  file->close();
  check_last_line(state, "PocoFormatted");
}
#endif  // OVIK_PEER_POCO

// ---- the floor ---------------------------------------------------------------------------------

void BM_Log_Floor_OpenAppendClose(benchmark::State& state) {
  const std::string path = folder().log_file("Floor");
  for (auto _ : state) {
    int fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0640);
    benchmark::DoNotOptimize(write(fd, kLine.data(), kLine.size()));
    close(fd);
  }
  check_last_line(state, "Floor");
}

BENCHMARK(BM_Log_Ovik_PutLogFileMode);
BENCHMARK(BM_Log_Ovik_NewLogPerEntry);
BENCHMARK(BM_Log_Ovik_PrintApplogUnreachable);
BENCHMARK(BM_Log_Ovik_PrintApplogSQLite);
BENCHMARK(BM_Log_Ovik_PutLogConnectedSQLite);
#if OVIK_PEER_POCO
BENCHMARK(BM_Log_Poco_FileChannelPreformatted);
BENCHMARK(BM_Log_Poco_LoggerPatternFileChannel);
#endif
BENCHMARK(BM_Log_Floor_OpenAppendClose);

}  // namespace

BENCHMARK_MAIN();
