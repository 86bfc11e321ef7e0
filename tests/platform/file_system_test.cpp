#include "platform/file_system.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <utility>

#include "database/transaction_log.h"
#include "logging/log.h"
#include "ovik/component.h"
#include "support/fake_platform.h"

namespace ovik::platform {
namespace {

namespace fs = std::filesystem;

class FileSystemTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "ovik-fs-XXXXXX").native();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    root_ = pattern;
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(root_, ignored);
  }
  std::string path(const std::string& name) const { return (root_ / name).native(); }
  static std::string read(const std::string& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
  }

  fs::path root_;
  FileSystem files_;
};

// The umask decides the modes of the files and folders made, as for any file of the user: a store
// group sharing a folder with umask 002 appends to each other's day files.
TEST_F(FileSystemTest, AppendWritesBytesAsGivenAndCreatesTheFile) {
  const std::string file = path("APP061206-user01.LOG");
  ASSERT_TRUE(files_.append_line(file, "2006/12/06 14:05:09\t0\tuser01\r\n"));
  ASSERT_TRUE(files_.append_line(file, "second\r\n"));
  EXPECT_EQ(read(file), "2006/12/06 14:05:09\t0\tuser01\r\nsecond\r\n");

  for (const mode_t mask : {mode_t{022}, mode_t{002}, mode_t{077}}) {
    const mode_t before = ::umask(mask);
    const std::string folder = path("log" + std::to_string(mask));
    const bool made = files_.create_directory(folder) && files_.append_line(folder + "/day.LOG", "x\r\n");
    ::umask(before);
    ASSERT_TRUE(made) << mask;
    struct stat info {};
    ASSERT_EQ(::stat((folder + "/day.LOG").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0666u & ~mask) << "umask " << mask;
    ASSERT_EQ(::stat(folder.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0777u & ~mask) << "umask " << mask;
  }
}

TEST_F(FileSystemTest, AppendFailsQuietly) {
  EXPECT_FALSE(files_.append_line(path("missing/file.LOG"), "line\r\n"));
  EXPECT_FALSE(files_.append_line(root_.native(), "line\r\n"));  // a folder
  EXPECT_FALSE(files_.append_line("", "line\r\n"));
  EXPECT_FALSE(fs::exists(path("missing")));
}

// Lines appended by several processes at once come out whole, none lost.
TEST_F(FileSystemTest, ConcurrentAppendsFromManyProcessesKeepLinesWhole) {
  constexpr int kProcesses = 8;
  constexpr int kLines = 2000;
  const std::string file = path("shared.LOG");
  std::vector<pid_t> children;
  for (int p = 0; p < kProcesses; ++p) {
    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      FileSystem files;
      bool ok = true;
      for (int i = 0; i < kLines; ++i) {
        // Long enough lines (about 200 bytes) that a split write would show.
        std::string line = "process " + std::to_string(p) + " line " + std::to_string(i) + " " +
                           std::string(180, static_cast<char>('a' + p)) + "\r\n";
        ok = files.append_line(file, line) && ok;
      }
      ::_exit(ok ? 0 : 1);
    }
    children.push_back(child);
  }
  for (pid_t child : children) {
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }

  std::istringstream text(read(file));
  std::vector<int> next(kProcesses, 0);
  std::string line;
  int count = 0;
  while (std::getline(text, line)) {
    ++count;
    int p = -1, i = -1;
    ASSERT_EQ(std::sscanf(line.c_str(), "process %d line %d ", &p, &i), 2) << line;
    ASSERT_TRUE(p >= 0 && p < kProcesses) << line;
    std::string expected = "process " + std::to_string(p) + " line " + std::to_string(i) + " " +
                           std::string(180, static_cast<char>('a' + p)) + "\r";
    ASSERT_EQ(line, expected);
    EXPECT_EQ(i, next[p]++) << "each process's lines stay in its order";
  }
  EXPECT_EQ(count, kProcesses * kLines);
}

// A disk that fills up in the middle of an append: it takes `room` more bytes, then every write
// fails with ENOSPC until `free_space` is called.
class FullDisk : public FileSystem {
 public:
  explicit FullDisk(std::size_t room) : room_(room) {}
  void free_space() { room_ = SIZE_MAX; }
  std::function<void()> after_short_write;  // runs once, between the short write and the failing one

 protected:
  ssize_t write_some(int fd, const char* data, std::size_t size) override {
    if (room_ == 0) {
      errno = ENOSPC;
      return -1;
    }
    const ssize_t n = ::write(fd, data, std::min(size, room_));
    if (n > 0 && room_ != SIZE_MAX) room_ -= static_cast<std::size_t>(n);
    if (room_ == 0 && after_short_write) std::exchange(after_short_write, nullptr)();
    return n;
  }

 private:
  std::size_t room_;
};

TEST_F(FileSystemTest, AFailedAppendLeavesNoFragmentForTheNextEntry) {
  const std::string file = path("APP.LOG");
  ASSERT_TRUE(files_.append_line(file, "first\r\n"));
  FullDisk disk(4);
  EXPECT_FALSE(disk.append_line(file, "second entry\r\n"));
  EXPECT_EQ(read(file), "first\r\n") << "the torn piece is cut off again";
  disk.free_space();
  ASSERT_TRUE(disk.append_line(file, "third\r\n"));
  EXPECT_EQ(read(file), "first\r\nthird\r\n");
}

TEST_F(FileSystemTest, AFragmentThatCannotBeRemovedEndsItsOwnLine) {
  // Left by a process killed mid-write, or by a writer outside the library: nobody may cut it.
  struct Case {
    std::string before, expected;
  } cases[] = {
      {"whole\r\ntorn", "whole\r\ntorn\r\nnext\r\n"},
      {"whole\r\ntorn\r", "whole\r\ntorn\r\nnext\r\n"},
      {"whole\n", "whole\nnext\r\n"},
      {"", "next\r\n"},
  };
  for (const Case& c : cases) {
    const std::string file = path("case.LOG");
    fs::remove(file);
    if (!c.before.empty()) {
      ASSERT_TRUE(files_.append_line(file, c.before));
    }
    ASSERT_TRUE(files_.append_line(file, "next\r\n"));
    EXPECT_EQ(read(file), c.expected) << ::testing::PrintToString(c.before);
  }

  // A line that someone else appended right after our torn piece is theirs: it stays, and the
  // next entry still starts on a line of its own.
  const std::string file = path("shared.LOG");
  FullDisk disk(3);
  disk.after_short_write = [&] {
    const int other = ::open(file.c_str(), O_WRONLY | O_APPEND);
    ASSERT_EQ(::write(other, "other\r\n", 7), 7);
    ::close(other);
  };
  EXPECT_FALSE(disk.append_line(file, "mine\r\n"));
  disk.free_space();
  ASSERT_TRUE(disk.append_line(file, "x"));  // ends inside a line on purpose
  ASSERT_TRUE(files_.append_line(file, "after\r\n"));
  EXPECT_EQ(read(file), "minother\r\nx\r\nafter\r\n");
}

TEST_F(FileSystemTest, AppendOutlastsALockHolderThatNeverLetsGo) {
  const std::string file = path("held.LOG");
  ASSERT_TRUE(files_.append_line(file, "first\r\n"));
  const int holder = ::open(file.c_str(), O_RDONLY);
  ASSERT_EQ(::flock(holder, LOCK_EX), 0);  // as a process stopped while holding it would
  EXPECT_TRUE(files_.append_line(file, "second\r\n"));
  ::close(holder);
  EXPECT_EQ(read(file), "first\r\nsecond\r\n");
}

// The log and the trace file both append through the platform: a full disk in the middle of one
// entry leaves the next entry a line of its own.
TEST_F(FileSystemTest, LogAndTraceLinesAfterAFullDiskAreWhole) {
  ovik::testing::FakeModule module(path("bin"));
  ovik::testing::FakeClock clock(2006, 12, 6, 14, 5, 9);
  ovik::testing::FakeUser user("user01");
  ovik::testing::FakeFocus focus(7);
  fs::create_directories(path("bin/log"));
  FullDisk disk(20);
  ScopedFake<FileSystem> installed(disk);

  Ref<clsLog> log = make_object<clsLog>();
  std::string title = "t";
  std::string text = "lost on a full disk";
  log->PutLog(title, text);
  disk.free_space();
  text = "kept";
  log->PutLog(title, text);
  EXPECT_EQ(read(path("bin/log/Ovik2Environment061206-user01.LOG")),
            "2006/12/06 14:05:09\t7\tuser01\tOvik2Environment\tt\tkept\r\n");

  disk = FullDisk(20);
  bool purged = false;
  trace::put("select 1", purged);
  disk.free_space();
  trace::put("select 2", purged);
  EXPECT_EQ(read(path("bin/transaction_log/2006_12_06(Ovik2Environment).log")),
            "/* 2006/12/06 14:05:09  active form :                */  select 2\r\n");
}

TEST_F(FileSystemTest, AFolderStampMovesWithEveryChangeOfNames) {
  ASSERT_TRUE(files_.create_directory(path("log")));
  EXPECT_FALSE(files_.folder_stamp(path("missing")));
  ASSERT_TRUE(files_.append_line(path("plain"), "x"));
  EXPECT_FALSE(files_.folder_stamp(path("plain"))) << "a file is no folder";

  const auto empty = files_.folder_stamp(path("log"));
  ASSERT_TRUE(empty);
  EXPECT_FALSE(empty->settled) << "just made: a second change may not move its times";
  ASSERT_TRUE(files_.append_line(path("log/a"), "x"));
  const auto created = files_.folder_stamp(path("log"));
  ASSERT_TRUE(created);
  ASSERT_TRUE(files_.append_line(path("log/a"), "more"));
  EXPECT_TRUE(files_.folder_stamp(path("log"))->same_as(*created)) << "appending changes no name";

  // Times put back by hand: the ctime cannot be, so the stamp never looks settled.
  const timespec hour_ago[2] = {{::time(nullptr) - 3600, 0}, {::time(nullptr) - 3600, 0}};
  ASSERT_EQ(::utimensat(AT_FDCWD, path("log").c_str(), hour_ago, 0), 0);
  const auto back = files_.folder_stamp(path("log"));
  ASSERT_TRUE(back);
  EXPECT_FALSE(back->settled);
  EXPECT_FALSE(back->same_as(*created));
}

TEST_F(FileSystemTest, AppendNeverFollowsALinkToTheFile) {
  const std::string victim = path("victim");
  ASSERT_TRUE(files_.append_line(victim, "precious\n"));
  fs::create_directory(path("log"));
  fs::create_symlink(victim, path("log/APP061206-root.LOG"));
  fs::create_symlink(path("log/not-yet"), path("log/dangling.LOG"));
  EXPECT_FALSE(files_.append_line(path("log/APP061206-root.LOG"), "line\r\n"));
  EXPECT_FALSE(files_.append_line(path("log/dangling.LOG"), "line\r\n"));
  EXPECT_EQ(read(victim), "precious\n");
  EXPECT_FALSE(fs::exists(path("log/not-yet")));

  ASSERT_EQ(::mkfifo(path("log/pipe.LOG").c_str(), 0600), 0);  // must not block either
  EXPECT_FALSE(files_.append_line(path("log/pipe.LOG"), "line\r\n"));
}

TEST_F(FileSystemTest, AFolderLinkCountsOnlyFromRootThisUserOrTheFoldersOwner) {
  const std::string target = path("elsewhere");
  fs::create_directory(target);
  ASSERT_TRUE(files_.append_line(target + "/old.LOG", "x"));
  fs::create_symlink(target, path("log"));
  EXPECT_TRUE(files_.append_line(path("log/APP.LOG"), "own link\r\n")) << "an administrator's link";
  EXPECT_TRUE(files_.append_line(path("log/") + "/APP.LOG", "again\r\n"));
  EXPECT_EQ(read(target + "/APP.LOG"), "own link\r\nagain\r\n");
  EXPECT_TRUE(files_.list_files(path("log")).has_value());

  if (::geteuid() != 0) GTEST_SKIP() << "a link owned by another user needs root to make";
  constexpr uid_t kOther = 54321;
  ASSERT_EQ(::lchown(path("log").c_str(), kOther, kOther), 0);
  EXPECT_FALSE(files_.append_line(path("log/APP.LOG"), "planted\r\n"));
  EXPECT_FALSE(files_.append_line(path("log/") + "/APP.LOG", "planted\r\n"));
  EXPECT_EQ(files_.list_files(path("log")), std::nullopt) << "a purge must not delete in its target";
  EXPECT_EQ(files_.list_files(path("log/")), std::nullopt);
  EXPECT_EQ(read(target + "/APP.LOG"), "own link\r\nagain\r\n");

  ASSERT_EQ(::chown(root_.c_str(), kOther, kOther), 0);  // the link's owner owns the folder too
  EXPECT_TRUE(files_.append_line(path("log/APP.LOG"), "holder's link\r\n"));
  ASSERT_EQ(::chown(root_.c_str(), 0, 0), 0);
}

TEST_F(FileSystemTest, ListFilesKeepsVisibleRegularFilesOnly) {
  for (const char* name : {"b.LOG", "a.LOG", ".hidden.LOG"}) ASSERT_TRUE(files_.append_line(path(name), "x"));
  fs::create_directory(path("sub.LOG"));
  fs::create_directory(path(".hidden-folder"));
  ASSERT_EQ(::mkfifo(path("pipe.LOG").c_str(), 0600), 0);
  fs::create_symlink(path("a.LOG"), path("link-to-file.LOG"));
  fs::create_symlink(path("sub.LOG"), path("link-to-folder.LOG"));
  fs::create_symlink(path("gone"), path("dangling.LOG"));

  auto names = files_.list_files(root_.native());
  ASSERT_TRUE(names.has_value());
  EXPECT_EQ(*names, (std::vector<std::string>{"a.LOG", "b.LOG", "link-to-file.LOG"}));

  EXPECT_EQ(files_.list_files(path("sub.LOG")), std::vector<std::string>{});
  EXPECT_EQ(files_.list_files(path("missing")), std::nullopt);
  EXPECT_EQ(files_.list_files(path("a.LOG")), std::nullopt);
}

TEST_F(FileSystemTest, CreateDirectoryMakesOneLevel) {
  EXPECT_TRUE(files_.create_directory(path("log")));
  EXPECT_TRUE(fs::is_directory(path("log")));
  EXPECT_TRUE(files_.create_directory(path("log"))) << "a folder already there is fine";
  EXPECT_FALSE(files_.create_directory(path("a/b"))) << "no parents are made";
  EXPECT_FALSE(fs::exists(path("a")));
  ASSERT_TRUE(files_.append_line(path("plain"), "x"));
  EXPECT_FALSE(files_.create_directory(path("plain")));
}

TEST_F(FileSystemTest, ExistsRemoveAndTimes) {
  const std::string file = path("old.LOG");
  ASSERT_TRUE(files_.append_line(file, "x"));
  fs::create_symlink(path("gone"), path("dangling"));
  EXPECT_TRUE(files_.exists(file));
  EXPECT_TRUE(files_.exists(root_.native()));
  EXPECT_TRUE(files_.exists(path("dangling")));
  EXPECT_FALSE(files_.exists(path("missing")));

  const timespec times[2] = {{1165381509, 0}, {1165381509, 0}};  // 2006-12-06 05:05:09 UTC
  ASSERT_EQ(::utimensat(AT_FDCWD, file.c_str(), times, 0), 0);
  EXPECT_EQ(files_.last_write_time_unix(file), 1165381509);
  EXPECT_EQ(files_.last_write_time_unix(path("missing")), std::nullopt);

  EXPECT_TRUE(files_.remove_file(file));
  EXPECT_FALSE(files_.exists(file));
  EXPECT_FALSE(files_.remove_file(file));
  EXPECT_FALSE(files_.remove_file(path("sub")));
}

}  // namespace
}  // namespace ovik::platform
