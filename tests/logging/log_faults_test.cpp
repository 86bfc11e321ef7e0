// The application log when its stores fail: an insert that fails sends the entry to the file; a
// file that cannot be written drops the entry without a word; the next entry tries again; a
// failed append leaves no fragment for the next line to join; and the purge goes on with the
// next file after one it could not delete.
#include <gtest/gtest.h>

#include <fstream>
#include <set>
#include <sstream>

#include "logging/log.h"
#include "ovik/data_access.h"
#include "support/fake_platform.h"
#include "support/faulty_files.h"
#include "support/temp_dir.h"

namespace ovik {
namespace {

using testing::FakeClock;
using testing::FakeFocus;
using testing::FakeModule;
using testing::FakeUser;
using testing::FaultyFiles;
using testing::TempDir;
using Op = FaultyFiles::Op;

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

class LogFaultTest : public ::testing::Test {
 protected:
  LogFaultTest() { std::filesystem::create_directories(dir_.path() / "app/bin"); }

  std::string log_folder() const { return dir_.str() + "/app/bin/log"; }
  std::string today() const { return dir_.read("app/bin/log/Ovik2Environment061206-user01.LOG"); }
  static std::string line_of(const std::string& text) {
    return "2006/12/06 14:05:09\t4321\tuser01\tOvik2Environment\tt\t" + text + "\r";
  }
  static void put(const Ref<clsLog>& log, std::string text) {
    std::string title = "t";
    log->PutLog(title, text);
  }

  TempDir dir_;
  FakeModule module_{dir_.str() + "/app/bin"};
  FakeClock clock_{2006, 12, 6, 14, 5, 9};
  FakeUser user_{"user01"};
  FakeFocus focus_{4321};
  FaultyFiles faults_;
};

// The table refuses the entry, and so does the file: the caller hears nothing, the entry is gone,
// the log stays connected, and the next entry reaches the table.
TEST_F(LogFaultTest, AnEntryRefusedByTheTableAndTheFileIsDroppedAndTheNextReachesTheTable) {
  const std::string db_path = dir_.write("log.db", "");
  const std::string cs = "Provider=SQLite;Data Source=" + db_path;
  Ref<_Connection> db = new_connection();
  db->Open(cs, "", "", -1);
  Variant affected;
  std::ifstream ddl(std::string(OVIK_SOURCE_DIR) + "/sql/wkLog.sqlite.sql");
  db->Execute(std::string(std::istreambuf_iterator<char>(ddl), {}), affected, -1);
  db->Execute("create trigger refuse before insert on wkLog begin select raise(abort, 'disk full'); end",
              affected, -1);
  auto rows = [&] {
    Ref<_Recordset> rs = db->Execute("select group_concat(Comment, '|') from wkLog", affected, -1);
    return rs->get_Fields()->get_Item(Variant(0))->get_Value().to_string();
  };

  Ref<clsLog> log = make_object<clsLog>();
  log->put_ServerConnectionString(cs);
  ASSERT_TRUE(log->is_connected());
  put(log, "to the file");
  faults_.reset();
  // Each line opens the day's file afresh: the write of the entry, after the line that says why it
  // is not in the table, is what fails.
  faults_.fail(Op::write, 2, ENOSPC);
  EXPECT_NO_THROW(put(log, "lost"));
  EXPECT_EQ(faults_.struck(), 1);
  EXPECT_TRUE(log->is_connected()) << "an insert that raised leaves the state as it was";
  const std::string why = "2006/12/06 14:05:09\t4321\tuser01\tOvik2Environment\tPutLog\tdisk full\r\n";
  EXPECT_EQ(today(), why + line_of("to the file") + "\n" + why);

  db->Execute("drop trigger refuse", affected, -1);
  put(log, "to the table");
  EXPECT_EQ(rows(), "to the table");
  EXPECT_EQ(today(), why + line_of("to the file") + "\n" + why);
}

// Five entries in file mode, with one call of the file system failing, call after call: at most
// the entry that met the failure is missing (a failed first try in a missing folder is tried once
// more, after the folder is made), every other one is there once and whole, in order.
TEST_F(LogFaultTest, EachFailingCallDropsOnlyTheEntryThatMetIt) {
  const std::vector<std::string> texts = {"one", "two", "three", "four", "five"};
  auto run = [&](const std::function<void()>& plan) {
    std::filesystem::remove_all(log_folder());
    faults_.reset();
    plan();
    std::set<std::string> met;  // the entries that met the failure
    Ref<clsLog> log = make_object<clsLog>();
    for (const std::string& text : texts) {
      const int before = faults_.struck();
      EXPECT_NO_THROW(put(log, text));
      faults_.free_space();
      if (faults_.struck() != before) met.insert(text);
    }
    return met;
  };
  run([] {});
  std::array<int, FaultyFiles::kOps.size()> counts{};
  for (Op op : FaultyFiles::kOps) counts[static_cast<std::size_t>(op)] = faults_.calls(op);
  ASSERT_GE(counts[static_cast<std::size_t>(Op::mkdir)], 1);

  auto check = [&](const std::set<std::string>& met, const std::string& what) {
    ASSERT_EQ(met.size(), 1u) << what;
    const std::vector<std::string> lines = lines_of(today());
    std::vector<std::string> expected;
    for (const std::string& text : texts)
      if (!met.contains(text) || lines.size() == texts.size()) expected.push_back(line_of(text));
    EXPECT_EQ(lines, expected) << what;
  };
  for (Op op : FaultyFiles::kOps) {
    for (int n = 1; n <= counts[static_cast<std::size_t>(op)]; ++n) {
      const std::string what = std::string(FaultyFiles::name(op)) + " #" + std::to_string(n);
      check(run([&] { faults_.fail(op, n, EIO); }), what);
    }
  }
  // A disk that fills up in the middle of a line: the piece that landed is cut off again.
  for (int n = 1; n <= counts[static_cast<std::size_t>(Op::write)]; ++n) {
    for (std::size_t room : {std::size_t{0}, std::size_t{1}, std::size_t{20}}) {
      const std::string what = "disk full at write #" + std::to_string(n) + " after " + std::to_string(room);
      check(run([&] { faults_.fill_disk(n, room); }), what);
    }
  }
}

// A piece of a line that cannot be cut off again (the truncate fails too) stays, but ends its own
// line: the next entry never joins it.
TEST_F(LogFaultTest, AFragmentThatStaysEndsItsOwnLine) {
  Ref<clsLog> log = make_object<clsLog>();
  put(log, "one");
  faults_.reset();
  faults_.fill_disk(1, 20);
  faults_.fail(Op::truncate, 1, EIO);
  put(log, "two, torn");
  faults_.free_space();
  put(log, "three");
  const std::vector<std::string> lines = lines_of(today());
  ASSERT_EQ(lines.size(), 3u) << today();
  EXPECT_EQ(lines[0], line_of("one"));
  EXPECT_EQ(lines[1], line_of("two, torn").substr(0, 20) + "\r");
  EXPECT_EQ(lines[2], line_of("three"));
}

// One old file that cannot be deleted (in use, another user's in a sticky folder) keeps its
// place; every other old file is deleted all the same, whichever of them fails.
TEST_F(LogFaultTest, ThePurgeGoesOnWithTheNextFileAfterAFailedDelete) {
  const std::vector<std::string> old = {"Ovik2Environment061001-a.LOG", "Ovik2Environment061002-b.LOG",
                                        "Ovik2Environment061003-c.LOG"};
  for (std::size_t stuck = 0; stuck < old.size(); ++stuck) {
    for (const std::string& name : old) dir_.write("app/bin/log/" + name, "x\r\n");
    dir_.write("app/bin/log/Ovik2Environment061206-user01.LOG", "today\r\n");
    faults_.reset();
    faults_.fail(Op::remove, static_cast<int>(stuck) + 1, EBUSY);
    Ref<clsLog> log = make_object<clsLog>();  // creation purges with 30 days
    for (std::size_t i = 0; i < old.size(); ++i)
      EXPECT_EQ(std::filesystem::exists(log_folder() + "/" + old[i]), i == stuck)
          << old[i] << " stuck " << stuck;
    EXPECT_TRUE(std::filesystem::exists(log_folder() + "/Ovik2Environment061206-user01.LOG"));
    log->DelLog(30);  // the next purge takes the file that was stuck
    EXPECT_FALSE(std::filesystem::exists(log_folder() + "/" + old[stuck]));
  }
}

}  // namespace
}  // namespace ovik
