// The trace file's texts, its line layout and its purge of old files.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <ctime>
#include <tuple>
#include <sstream>

#include "database/database.h"
#include "database/transaction_log.h"
#include "platform/file_system.h"
#include "support/fake_platform.h"
#include "support/temp_dir.h"

namespace ovik {
namespace {

using testing::FakeClock;
using testing::FakeFocus;
using testing::FakeModule;
using testing::TempDir;

TEST(TraceTexts, RulesLabelsAndCleaning) {
  EXPECT_EQ(trace::connect_line("Provider=SQLite;Password=x"), "-- Connected To [Provider=SQLite;Password=********]");
  EXPECT_EQ(trace::heavy_rule().substr(0, 2), "--");
  EXPECT_EQ(trace::heavy_rule().size(), 2u + 100u * 3u);  // U+2501 is three bytes in UTF-8
  EXPECT_EQ(trace::begin_line(), "Begin Transaction    " + std::string(100, '-'));
  EXPECT_EQ(trace::commit_line(), "Commit Transaction   " + std::string(100, '-'));
  EXPECT_EQ(trace::rollback_line(), "Rollback Transaction " + std::string(100, '-'));
  EXPECT_EQ(trace::failed_rollback_line(), "Rollback Transaction   " + std::string(100, '-'));
  EXPECT_EQ(trace::error_line("boom"), "  →error!! boom");
  EXPECT_EQ(trace::traced_text("  select *\r\nfrom t\rwhere\nx = 1\r\n\r\n"), "select * from t where x = 1");
  EXPECT_EQ(trace::traced_text("\r\n\n"), "");
  EXPECT_EQ(trace::traced_text(std::string_view("a\0b", 3)), "a b");
  // A statement is traced as the drivers send it: up to its first NUL, the rest marked as not sent.
  using namespace std::string_literals;
  EXPECT_EQ(trace::sent_statement("select 7\0; delete from x"s), "select 7 /* text after a NUL was not sent */");
  EXPECT_EQ(trace::sent_statement("select 7\0\0"s), "select 7");
  EXPECT_EQ(trace::sent_statement("select 7"), "select 7");
  EXPECT_EQ(trace::form_field(std::nullopt), std::string(15, ' '));
  EXPECT_EQ(trace::form_field(std::string("frmOrder")), "frmOrder       ");
  EXPECT_EQ(trace::form_field(std::string("frmOrderEntryWithALongName")), "frmOrderEntryWi");
  EXPECT_EQ(trace::form_field(std::string("発注入力画面")), "発注入力画面         ");  // counted in characters
}

class TraceFileTest : public ::testing::Test {
 protected:
  std::string folder() const { return dir_.str() + "/app/bin/transaction_log"; }
  std::string today_file() const { return folder() + "/2024_01_05(Ovik2Environment).log"; }
  std::string read_today() const { return dir_.read("app/bin/transaction_log/2024_01_05(Ovik2Environment).log"); }
  void age_file(const std::string& name, long long seconds_old) {
    dir_.write("app/bin/transaction_log/" + name, "old\r\n");
    const std::time_t when =
        (clock_.system_time_as_file_time() - platform::kFileTimeOfUnixEpoch) / 10'000'000 - seconds_old;
    struct timespec times[2] = {{when, 0}, {when, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, (folder() + "/" + name).c_str(), times, 0), 0);
  }

  TempDir dir_;
  FakeModule module_{dir_.str() + "/app/bin"};
  FakeClock clock_{2024, 1, 5, 9, 3, 7};
  FakeFocus focus_{1, std::string("frmOrder")};
};

TEST_F(TraceFileTest, OneLinePerTextWithTheFixedLayout) {
  std::filesystem::create_directories(dir_.path() / "app/bin");
  bool purged = false;
  trace::put("select 1\r\nfrom t", purged);
  focus_.set_form(std::nullopt);
  trace::put(trace::disconnect_line(), purged);
  EXPECT_TRUE(purged);
  EXPECT_EQ(read_today(),
            "/* 2024/01/05 09:03:07  active form : frmOrder       */  select 1 from t\r\n"
            "/* 2024/01/05 09:03:07  active form :                */  -- Disconnected\r\n");
}

TEST_F(TraceFileTest, AStatementIsTracedAsTheDatabaseGotIt) {
  std::filesystem::create_directories(dir_.path() / "app/bin");
  Ref<clsDatabase> db = make_object<clsDatabase>();
  db->put_TraceTransaction(true);
  ASSERT_TRUE(db->Connect("Provider=SQLite;Data Source=" + dir_.str() + "/t.db;Create If Missing=True",
                          HowToConnectEnum::ConnectByConnectionString));
  Variant affected;
  db->get_Connection()->Execute(std::string("select 7\0; delete from x", 25), affected, -1);
  EXPECT_NE(read_today().find("*/  select 7 /* text after a NUL was not sent */\r\n"), std::string::npos)
      << read_today();
}

TEST_F(TraceFileTest, AMegabyteStatementIsOneLine) {
  std::filesystem::create_directories(dir_.path() / "app/bin");
  std::string sql = "insert into t values\r\n";
  while (sql.size() < (1u << 20)) sql += "('発注', 'it''s'),\n";
  sql += "('end', 'x')";
  bool purged = false;
  trace::put(sql, purged);
  const std::string file = read_today();
  EXPECT_EQ(std::count(file.begin(), file.end(), '\n'), 1);
  EXPECT_TRUE(file.ends_with("('end', 'x')\r\n"));
  EXPECT_GT(file.size(), sql.size());
}

// The first traced line of an object deletes the files last modified at or before the same local
// time of day 30 calendar days back, whatever their names: across a change of summer time that is
// 30 x 24 hours less or more one. Each row runs in a child process of its time zone.
TEST_F(TraceFileTest, PurgeKeepsThirtyCalendarDaysOfLocalTime) {
  struct Row {
    const char* zone;
    std::array<int, 6> now;
    const char* name;
    std::array<int, 6> modified;
    bool kept;
  } rows[] = {
      {"UTC", {2024, 1, 5, 9, 3, 7}, "2023_12_06(Ovik2Environment).log", {2023, 12, 6, 9, 3, 7}, false},
      {"UTC", {2024, 1, 5, 9, 3, 7}, "2023_12_07(Ovik2Environment).log", {2023, 12, 7, 9, 3, 7}, true},
      {"UTC", {2024, 1, 5, 9, 3, 7}, "notes.txt", {2023, 12, 5, 9, 3, 7}, false},
      // Summer time ended between the two dates, and began between the next two.
      {"Europe/Berlin", {2026, 11, 20, 12, 0, 0}, "a.log", {2026, 10, 21, 12, 30, 0}, true},
      {"Europe/Berlin", {2026, 11, 20, 12, 0, 0}, "a.log", {2026, 10, 21, 12, 0, 0}, false},
      {"Europe/Berlin", {2026, 4, 10, 12, 0, 0}, "a.log", {2026, 3, 11, 11, 30, 0}, false},
      {"Europe/Berlin", {2026, 4, 10, 12, 0, 0}, "a.log", {2026, 3, 11, 12, 30, 0}, true},
  };
  for (const Row& row : rows) {
    std::filesystem::remove_all(folder());
    std::filesystem::create_directories(folder());
    const std::string path = dir_.write("app/bin/transaction_log/" + std::string(row.name), "old\r\n");
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      ::setenv("TZ", row.zone, 1);
      ::tzset();
      std::tm local{};
      local.tm_year = row.modified[0] - 1900;
      local.tm_mon = row.modified[1] - 1;
      local.tm_mday = row.modified[2];
      local.tm_hour = row.modified[3];
      local.tm_min = row.modified[4];
      local.tm_sec = row.modified[5];
      local.tm_isdst = -1;
      const std::time_t when = std::mktime(&local);
      const timespec times[2] = {{when, 0}, {when, 0}};
      if (::utimensat(AT_FDCWD, path.c_str(), times, 0) != 0) _exit(2);
      std::apply([&](auto... part) { clock_.set_local(part...); }, row.now);
      bool purged = false;
      trace::put("x", purged);
      _exit(std::filesystem::exists(path) == row.kept ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
        << row.zone << " " << row.name << (row.kept ? " kept" : " deleted") << " status " << status;
  }
}

TEST_F(TraceFileTest, PurgeRunsOnceAndRetriesWhenItFailed) {
  std::filesystem::create_directories(folder());
  age_file("old.txt", 31LL * 86400);
  bool purged = false;
  trace::put("x", purged);
  EXPECT_FALSE(std::filesystem::exists(folder() + "/old.txt"));

  // A second object (its own flag) purges again; the same object does not.
  age_file("again.txt", 40LL * 86400);
  trace::put("y", purged);
  EXPECT_TRUE(std::filesystem::exists(folder() + "/again.txt"));
  bool other = false;
  trace::put("z", other);
  EXPECT_FALSE(std::filesystem::exists(folder() + "/again.txt"));
}

class UndeletableFiles final : public platform::FileSystem {
 public:
  bool remove_file(const std::string&) override { return false; }
};

// An old file out of reach must not silence the trace: the line is written, and the purge is
// tried again at the next line.
TEST_F(TraceFileTest, AFailedPurgeStillWritesTheLineAndLeavesTheFlag) {
  std::filesystem::create_directories(folder());
  age_file("stuck.log", 60LL * 86400);
  UndeletableFiles stuck;
  platform::ScopedFake<platform::FileSystem> fake(stuck);
  bool purged = false;
  trace::put("kept", purged);
  trace::put("kept too", purged);
  EXPECT_FALSE(purged);
  EXPECT_TRUE(std::filesystem::exists(folder() + "/stuck.log"));
  const std::string text = read_today();
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 2) << text;
  EXPECT_NE(text.find("*/  kept too\r\n"), std::string::npos) << text;
}

TEST_F(TraceFileTest, ManyProcessesAppendWholeLines) {
  std::filesystem::create_directories(dir_.path() / "app/bin");
  constexpr int kProcesses = 8, kLines = 2000;
  std::vector<pid_t> children;
  for (int p = 0; p < kProcesses; ++p) {
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      bool purged = false;
      for (int i = 0; i < kLines; ++i)
        trace::put("insert into t values(" + std::to_string(p) + ", " + std::to_string(i) + ", '" +
                       std::string(120, 'x') + "')",
                   purged);
      _exit(0);
    }
    children.push_back(pid);
  }
  for (pid_t pid : children) {
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  std::istringstream in(read_today());
  std::size_t whole = 0, all = 0;
  for (std::string line; std::getline(in, line); ++all)
    if (line.starts_with("/* 2024/01/05") && line.ends_with("')\r")) ++whole;
  EXPECT_EQ(all, static_cast<std::size_t>(kProcesses * kLines));
  EXPECT_EQ(whole, all);
}

}  // namespace
}  // namespace ovik
