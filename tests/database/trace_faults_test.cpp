// The trace file when the file system fails: a line that cannot be written is lost and the
// traced work goes on, the next lines are written whole, a torn line never takes the next one in,
// and the purge goes on past a file it cannot delete.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <sstream>

#include "database/database.h"
#include "database/transaction_log.h"
#include "platform/clock.h"
#include "support/fake_platform.h"
#include "support/faulty_files.h"
#include "support/temp_dir.h"

namespace ovik {
namespace {

using testing::FakeClock;
using testing::FakeFocus;
using testing::FakeModule;
using testing::FaultyFiles;
using testing::TempDir;
using Op = FaultyFiles::Op;

// What follows the fixed head of a trace line ("/* <time>  active form : <15>*/  ").
std::vector<std::string> traced_texts(const std::string& file) {
  std::vector<std::string> texts;
  std::istringstream in(file);
  const std::string head = "/* 2024/01/05 09:03:07  active form : frmOrder       */  ";
  for (std::string line; std::getline(in, line);) {
    if (line.starts_with(head) && line.ends_with("\r")) {
      texts.push_back(line.substr(head.size(), line.size() - head.size() - 1));
    } else {
      texts.push_back("(torn) " + line);
    }
  }
  return texts;
}

class TraceFaultTest : public ::testing::Test {
 protected:
  TraceFaultTest() { std::filesystem::create_directories(dir_.path() / "app/bin"); }
  std::string folder() const { return dir_.str() + "/app/bin/transaction_log"; }
  std::string today() const { return dir_.read("app/bin/transaction_log/2024_01_05(Ovik2Environment).log"); }

  // One database object's life, traced: connect, three statements, disconnect. Every call must
  // succeed whatever happens to the trace.
  void work() {
    Ref<clsDatabase> db = make_object<clsDatabase>();
    db->put_TraceTransaction(true);
    ASSERT_TRUE(db->Connect("Provider=SQLite;Data Source=" + dir_.str() + "/t.db;Create If Missing=True",
                            HowToConnectEnum::ConnectByConnectionString));
    Variant affected;
    for (const char* sql :
         {"create table if not exists t (a integer)", "insert into t values (1)", "delete from t"})
      EXPECT_NO_THROW(db->get_Connection()->Execute(sql, affected, -1)) << sql;
    EXPECT_TRUE(db->Disconnect());
  }

  TempDir dir_;
  FakeModule module_{dir_.str() + "/app/bin"};
  FakeClock clock_{2024, 1, 5, 9, 3, 7};
  FakeFocus focus_{1, std::string("frmOrder")};
  FaultyFiles faults_;
};

TEST_F(TraceFaultTest, ALineThatCannotBeWrittenIsLostAndTheTraceGoesOn) {
  faults_.reset();
  work();
  const std::vector<std::string> all = traced_texts(today());
  ASSERT_EQ(all.size(), 7u);  // rule, connect, three statements, disconnect, rule
  const int writes = faults_.calls(Op::write);
  const int opens = faults_.calls(Op::open);
  ASSERT_EQ(writes, 7);

  auto expect_all_but = [&](std::size_t lost, const std::string& what) {
    std::vector<std::string> expected = all;
    expected.erase(expected.begin() + static_cast<std::ptrdiff_t>(lost));
    EXPECT_EQ(traced_texts(today()), expected) << what;
  };
  for (int n = 1; n <= writes; ++n) {
    for (const std::function<void()>& plan : std::vector<std::function<void()>>{
             [&] { faults_.fail(Op::write, n, EIO); }, [&] { faults_.fill_disk(n, 0, 1); },
             [&] { faults_.fill_disk(n, 30, 1); }}) {
      std::filesystem::remove_all(folder());
      faults_.reset();
      plan();
      work();
      expect_all_but(static_cast<std::size_t>(n - 1), "write #" + std::to_string(n));
    }
  }
  // Each line opens the file for itself: a failed open loses that line alone.
  for (int n = 1; n <= opens; ++n) {
    std::filesystem::remove_all(folder());
    faults_.reset();
    faults_.fail(Op::open, n, EIO);
    work();
    EXPECT_EQ(traced_texts(today()).size(), all.size() - 1) << "open #" << n;
  }
}

// A torn piece that cannot be cut off again stays, but on a line of its own.
TEST_F(TraceFaultTest, AFragmentThatStaysEndsItsOwnLine) {
  faults_.reset();
  faults_.fill_disk(3, 30, 1);
  faults_.fail(Op::truncate, 1, EIO);
  work();
  const std::vector<std::string> texts = traced_texts(today());
  ASSERT_EQ(texts.size(), 7u);
  EXPECT_EQ(texts[2], "(torn) /* 2024/01/05 09:03:07  active\r");
  EXPECT_EQ(texts[3], "insert into t values (1)");
}

// Old trace files, one of which cannot be deleted: the others go all the same, the line that met
// the failure is written, and the object tries the purge again at its next line.
TEST_F(TraceFaultTest, ThePurgeGoesOnWithTheNextFileAfterAFailedDelete) {
  const std::vector<std::string> old = {"2023_11_01(Ovik2Environment).log",
                                        "2023_11_02(Ovik2Environment).log",
                                        "2023_11_03(Ovik2Environment).log"};
  const std::time_t now_unix =
      (clock_.system_time_as_file_time() - platform::kFileTimeOfUnixEpoch) / 10'000'000;
  for (std::size_t stuck = 0; stuck < old.size(); ++stuck) {
    std::filesystem::remove_all(folder());
    for (const std::string& name : old) {
      const std::string path = dir_.write("app/bin/transaction_log/" + name, "old\r\n");
      const timespec times[2] = {{now_unix - 40 * 86400, 0}, {now_unix - 40 * 86400, 0}};
      ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
    }
    faults_.reset();
    faults_.fail(Op::remove, static_cast<int>(stuck) + 1, EBUSY);
    bool purged = false;
    trace::put("select 1", purged);
    EXPECT_FALSE(purged);
    for (std::size_t i = 0; i < old.size(); ++i)
      EXPECT_EQ(std::filesystem::exists(folder() + "/" + old[i]), i == stuck) << old[i] << " stuck " << stuck;
    EXPECT_EQ(traced_texts(today()), std::vector<std::string>{"select 1"});

    trace::put("select 2", purged);
    EXPECT_TRUE(purged);
    EXPECT_FALSE(std::filesystem::exists(folder() + "/" + old[stuck]));
    EXPECT_EQ(traced_texts(today()), (std::vector<std::string>{"select 1", "select 2"}));
    std::filesystem::remove(folder() + "/2024_01_05(Ovik2Environment).log");
  }
}

}  // namespace
}  // namespace ovik
