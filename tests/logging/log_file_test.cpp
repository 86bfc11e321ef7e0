// The application log without a database: the day's file of the user, its line layout, the
// purge of old files, and lines from many processes at once.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <functional>
#include <sstream>

#include "logging/log.h"
#include "platform/file_system.h"
#include "support/fake_platform.h"
#include "support/temp_dir.h"

namespace ovik {
namespace {

using testing::FakeClock;
using testing::FakeFocus;
using testing::FakeModule;
using testing::FakeUser;
using testing::TempDir;

class LogFileTest : public ::testing::Test {
 protected:
  std::string log_folder() const { return dir_.str() + "/app/bin/log"; }
  std::string read_log(const std::string& name) const { return dir_.read("app/bin/log/" + name); }
  void touch(const std::string& name) const { dir_.write("app/bin/log/" + name, "x"); }
  bool present(const std::string& name) const { return std::filesystem::exists(log_folder() + "/" + name); }
  void put(const Ref<clsLog>& log, std::string title, std::string text) { log->PutLog(title, text); }

  TempDir dir_;
  FakeModule module_{dir_.str() + "/app/bin"};
  FakeClock clock_{2006, 12, 6, 14, 5, 9};
  FakeUser user_{"user01"};
  FakeFocus focus_{4321};
};

TEST_F(LogFileTest, WritesOneTabSeparatedLinePerEntry) {
  std::filesystem::create_directories(dir_.path() / "app/bin");
  Ref<clsLog> log = make_object<clsLog>();
  EXPECT_EQ(log->get_AppName(), "Ovik2Environment");
  log->put_AppName("POS");
  put(log, "タイトル", "it's\r\nsecond\tline\nend\rx");
  put(log, "t", "second entry");
  EXPECT_EQ(read_log("POS061206-user01.LOG"),
            "2006/12/06 14:05:09\t4321\tuser01\tPOS\tタイトル\tit's  second line end x\r\n"
            "2006/12/06 14:05:09\t4321\tuser01\tPOS\tt\tsecond entry\r\n");
}

// Another process may make the log folder between this entry's failed first try and its look at
// the folder: the entry is still written, not dropped because the folder is there after all.
TEST_F(LogFileTest, AFolderMadeByAnotherProcessMeanwhileStillTakesTheEntry) {
  std::filesystem::create_directories(dir_.path() / "app/bin");
  class MadeMeanwhile final : public platform::FileSystem {
   public:
    explicit MadeMeanwhile(std::string folder) : folder_(std::move(folder)) {}
    bool append_line(const std::string& path, std::string_view bytes) override {
      if (!made_) {
        made_ = true;
        const bool written = platform::FileSystem::append_line(path, bytes);  // no folder yet
        const int error = errno;
        std::filesystem::create_directory(folder_);  // the other process
        errno = error;
        return written;
      }
      return platform::FileSystem::append_line(path, bytes);
    }

   private:
    std::string folder_;
    bool made_ = false;
  } fs(log_folder());
  platform::ScopedFake<platform::FileSystem> use(fs);
  Ref<clsLog> log = make_object<clsLog>();
  put(log, "t", "first entry");
  EXPECT_EQ(read_log("Ovik2Environment061206-user01.LOG"),
            "2006/12/06 14:05:09\t4321\tuser01\tOvik2Environment\tt\tfirst entry\r\n");
}

// User, application and title come from outside as much as the text does: CR and LF in any of
// them become spaces, so no entry can forge a line. TAB becomes a space too, except in the title,
// which keeps it (such a line has more than six fields).
TEST_F(LogFileTest, NoFieldCanBreakTheLine) {
  std::filesystem::create_directories(dir_.path() / "app/bin");
  FakeUser forger("eve\r\n2006/12/06 00:00:00\t1\troot");
  Ref<clsLog> log = make_object<clsLog>();
  log->put_AppName("POS\tX\r\n");
  put(log, "title\twith\r\nbreaks", "text\tx");
  put(log, std::string("nul\0title", 9), std::string("nul\0text", 8));  // a raw NUL makes grep see binary
  const std::string file = "POS_X__061206-eve__2006_12_06 00:00:00_1_root.LOG";
  EXPECT_EQ(read_log(file),
            "2006/12/06 14:05:09\t4321\teve  2006/12/06 00:00:00 1 root\tPOS X  \ttitle\twith  breaks\ttext x\r\n"
            "2006/12/06 14:05:09\t4321\teve  2006/12/06 00:00:00 1 root\tPOS X  \tnul title\tnul text\r\n");
}

// A file name is one name inside the log folder: no separator, and no control character that a
// listing or a shell would show as something else.
TEST_F(LogFileTest, ControlCharactersNeverReachAFileName) {
  std::filesystem::create_directories(dir_.path() / "app/bin");
  std::vector<std::string> controls;
  for (int c = 0; c < 0x20; ++c) controls.emplace_back(1, static_cast<char>(c));
  controls.emplace_back("\x7f");
  controls.emplace_back("\u0085");  // NEL, and the other C1 controls, encoded in UTF-8
  controls.emplace_back("\u009b");
  controls.emplace_back("/");
  Ref<clsLog> log = make_object<clsLog>();
  for (const std::string& control : controls) {
    log->put_AppName("A" + control + "B");
    put(log, "t", "x");
  }
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(dir_.path()))
    if (entry.is_regular_file()) names.push_back(entry.path().lexically_relative(dir_.path()).string());
  EXPECT_EQ(names, std::vector<std::string>{"app/bin/log/A_B061206-user01.LOG"});
  const std::string text = read_log("A_B061206-user01.LOG");
  EXPECT_EQ(static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')), controls.size());
}

TEST_F(LogFileTest, EachEntryTakesTheDateAtItsStart) {
  std::filesystem::create_directories(dir_.path() / "app/bin");
  Ref<clsLog> log = make_object<clsLog>();
  clock_.set(2006, 12, 6, 23, 59, 59);
  put(log, "a", "before midnight");
  clock_.advance_seconds(2);
  put(log, "b", "after midnight");
  EXPECT_NE(read_log("Ovik2Environment061206-user01.LOG").find("before midnight"), std::string::npos);
  EXPECT_NE(read_log("Ovik2Environment061207-user01.LOG").find("2006/12/07 00:00:01"), std::string::npos);
}

TEST_F(LogFileTest, MissingFoldersAndUnreadableUsersAreNoFailure) {
  {
    // The log folder's parent does not exist: nothing is written and nothing is reported.
    Ref<clsLog> log = make_object<clsLog>();
    EXPECT_NO_THROW(put(log, "t", "lost"));
    EXPECT_FALSE(std::filesystem::exists(log_folder()));
  }
  std::filesystem::create_directories(dir_.path() / "app/bin");
  FakeUser nobody("");
  FakeFocus no_focus(0);
  Ref<clsLog> log = make_object<clsLog>();
  put(log, "t", "kept");
  EXPECT_EQ(read_log("Ovik2Environment061206-.LOG"), "2006/12/06 14:05:09\t0\t\tOvik2Environment\tt\tkept\r\n");
}

TEST_F(LogFileTest, AnApplicationNameCannotLeadTheFileOutOfTheFolder) {
  std::filesystem::create_directories(dir_.path() / "app/bin");
  Ref<clsLog> log = make_object<clsLog>();
  log->put_AppName("../../evil");
  put(log, "t", "x");
  EXPECT_FALSE(std::filesystem::exists(dir_.path() / "evil061206-user01.LOG"));
  EXPECT_TRUE(present(".._.._evil061206-user01.LOG"));
}

// A file system whose disk is full: every append fails.
class FullDisk final : public platform::FileSystem {
 public:
  bool append_line(const std::string&, std::string_view) override {
    ++attempts;
    return false;
  }
  int attempts = 0;
};

TEST_F(LogFileTest, AFullDiskDropsTheEntryAndTheNextOneTriesAgain) {
  std::filesystem::create_directories(dir_.path() / "app/bin");
  FullDisk full;
  platform::ScopedFake<platform::FileSystem> fake(full);
  Ref<clsLog> log = make_object<clsLog>();
  EXPECT_NO_THROW(put(log, "t", "one"));
  const int after_first = full.attempts;
  EXPECT_GE(after_first, 1);
  EXPECT_NO_THROW(put(log, "t", "two"));
  EXPECT_GT(full.attempts, after_first);
}

TEST_F(LogFileTest, PurgeDeletesOnlyFilesDatedBeforeTheCutoff) {
  for (const char* name : {"Ovik2Environment061105-user01.LOG", "Ovik2Environment061106-user01.LOG",
                           "Ovik2Environment061206-other.LOG", "POS061105-user01.LOG", "-notes.txt", "(old).txt",
                           "061001.log", "991231-user01.LOG", ".hidden061001"})
    touch(name);
  std::filesystem::create_directories(log_folder() + "/061001-folder");
  clock_.set(2006, 12, 6, 8, 0, 0);
  Ref<clsLog> log = make_object<clsLog>();  // creation purges with 30 days: cutoff 2006-11-06
  EXPECT_FALSE(present("Ovik2Environment061105-user01.LOG"));
  EXPECT_TRUE(present("Ovik2Environment061106-user01.LOG"));
  EXPECT_TRUE(present("Ovik2Environment061206-other.LOG"));
  EXPECT_TRUE(present("POS061105-user01.LOG"));  // another application's file keeps its name
  EXPECT_TRUE(present("-notes.txt"));            // not the library's own: never deleted
  EXPECT_TRUE(present("(old).txt"));
  EXPECT_FALSE(present("061001.log"));
  EXPECT_TRUE(present(".hidden061001"));
  EXPECT_TRUE(std::filesystem::exists(log_folder() + "/061001-folder"));

  log->DelLog(0);  // today's entries stay
  EXPECT_TRUE(present("Ovik2Environment061206-other.LOG"));
  EXPECT_FALSE(present("Ovik2Environment061106-user01.LOG"));
  log->DelLog(-1);  // a cutoff in the future removes today's as well
  EXPECT_FALSE(present("Ovik2Environment061206-other.LOG"));
  log->DelLog(-32768);  // no cutoff can be computed: nothing is deleted
  EXPECT_TRUE(present("POS061105-user01.LOG"));

  // Two-digit years: a file of 31 December 1999 never sorts before a cutoff in January 2000.
  clock_.set(2000, 1, 20);
  log->DelLog(1);
  EXPECT_TRUE(present("991231-user01.LOG"));
}

// A file system whose folder times always move with a change of names and were last moved long
// ago: the purge may then remember a quiet folder. The test reports each change it makes.
class QuietFolders final : public platform::FileSystem {
 public:
  std::optional<platform::FolderStamp> folder_stamp(const std::string& folder) override {
    auto stamp = FileSystem::folder_stamp(folder);
    if (stamp) {
      stamp->mtime_ns = stamp->ctime_ns = changes;
      stamp->settled = true;
    }
    return stamp;
  }
  std::optional<std::vector<std::string>> list_files(const std::string& folder) override {
    ++listings;
    return FileSystem::list_files(folder);
  }
  bool remove_file(const std::string& path) override {
    if (refuse_removal || !FileSystem::remove_file(path)) return false;
    ++changes;
    return true;
  }
  int changes = 0;
  int listings = 0;
  bool refuse_removal = false;
};

TEST_F(LogFileTest, APurgeSkipsTheListingOnlyWhileNothingCouldBeDeleted) {
  touch("Ovik2Environment061106-user01.LOG");  // kept by a cutoff of 2006-11-06
  QuietFolders files;
  platform::ScopedFake<platform::FileSystem> fake(files);
  auto new_log = [] { return make_object<clsLog>(); };
  auto add = [&](const std::string& name) {
    touch(name);
    ++files.changes;
  };

  Ref<clsLog> log = new_log();
  log->DelLog(30);
  new_log();
  EXPECT_EQ(files.listings, 1) << "the folder is listed once while it stays the same";

  add("Ovik2Environment061001-user01.LOG");
  new_log();
  EXPECT_FALSE(present("Ovik2Environment061001-user01.LOG"));
  new_log();  // the pass that deleted is not remembered: one more listing finds the folder quiet
  new_log();
  EXPECT_EQ(files.listings, 3);

  clock_.set(2006, 12, 7, 0, 0, 1);  // a new day moves the cutoff, with no change in the folder
  new_log();
  EXPECT_EQ(files.listings, 4);
  EXPECT_FALSE(present("Ovik2Environment061106-user01.LOG"));

  log->DelLog(0);  // a later cutoff may find more
  EXPECT_EQ(files.listings, 5);
  log->DelLog(30);  // an earlier one cannot
  EXPECT_EQ(files.listings, 5);

  add("Ovik2Environment061003-user01.LOG");
  files.refuse_removal = true;  // a file that cannot be deleted is tried again at every purge
  const int before = files.listings;
  new_log();
  new_log();
  EXPECT_EQ(files.listings, before + 2);
  EXPECT_TRUE(present("Ovik2Environment061003-user01.LOG"));
  files.refuse_removal = false;
  new_log();
  EXPECT_FALSE(present("Ovik2Environment061003-user01.LOG"));
}

// Whatever happened to the day's file or the log folder between two entries of one object, the
// second entry goes to the file that has the day's name now, as the first entry of a new object
// would.
TEST_F(LogFileTest, AnObjectsNextEntryGoesToTheDaysNameWhateverHappenedBetween) {
  const std::string day = "Ovik2Environment061206-user01.LOG";
  const std::string second = "2006/12/06 14:05:09\t4321\tuser01\tOvik2Environment\tt\tsecond\r\n";
  struct Case {
    const char* what;
    std::function<void()> between;
    std::string expected;
  } cases[] = {
      {"purged", [] { make_object<clsLog>()->DelLog(-1); }, second},
      {"renamed by log rotation",
       [&] { std::filesystem::rename(log_folder() + "/" + day, log_folder() + "/" + day + ".1"); }, second},
      {"replaced by a new file",
       [&] {
         std::filesystem::remove(log_folder() + "/" + day);
         dir_.write("app/bin/log/" + day, "new file\r\n");
       },
       "new file\r\n" + second},
      {"folder moved away and made again",
       [&] {
         std::filesystem::rename(log_folder(), log_folder() + ".old");
         std::filesystem::create_directory(log_folder());
       },
       second},
  };
  for (const Case& c : cases) {
    std::filesystem::remove_all(dir_.path() / "app");
    std::filesystem::create_directories(dir_.path() / "app/bin");
    Ref<clsLog> log = make_object<clsLog>();
    put(log, "t", "first");
    c.between();
    put(log, "t", "second");
    EXPECT_EQ(read_log(day), c.expected) << c.what;
  }
}

// Live log objects hold no file between their entries: many of them, more than the process may
// open files, lose none of their entries.
TEST_F(LogFileTest, ManyLiveObjectsLoseNoEntry) {
  std::filesystem::create_directories(dir_.path() / "app/bin");
  constexpr int kObjects = 200;
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    const rlimit few{64, 64};
    if (::setrlimit(RLIMIT_NOFILE, &few) != 0) _exit(2);
    std::vector<Ref<clsLog>> logs;
    for (int round = 0; round < 2; ++round) {
      for (int i = 0; i < kObjects; ++i) {
        if (round == 0) logs.push_back(make_object<clsLog>());
        std::string title = "t", text = "object " + std::to_string(i) + " entry " + std::to_string(round) + "#";
        logs[static_cast<std::size_t>(i)]->PutLog(title, text);
      }
    }
    _exit(0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  const std::string content = read_log("Ovik2Environment061206-user01.LOG");
  EXPECT_EQ(std::count(content.begin(), content.end(), '#'), 2 * kObjects);
}

std::size_t count_whole_lines(const std::string& content, const std::string& must_contain) {
  std::size_t whole = 0;
  std::istringstream in(content);
  for (std::string line; std::getline(in, line);)
    if (!line.empty() && line.back() == '\r' && line.find(must_contain) != std::string::npos) ++whole;
  return whole;
}

TEST_F(LogFileTest, ManyProcessesAppendWholeLines) {
  std::filesystem::create_directories(dir_.path() / "app/bin");
  constexpr int kProcesses = 8, kEntries = 2000;
  const std::string payload(150, 'p');
  std::vector<pid_t> children;
  for (int p = 0; p < kProcesses; ++p) {
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      Ref<clsLog> log = make_object<clsLog>();
      for (int i = 0; i < kEntries; ++i) {
        std::string title = "p" + std::to_string(p), text = payload + std::to_string(i) + "#";
        log->PutLog(title, text);
      }
      log.reset();
      _exit(0);
    }
    children.push_back(pid);
  }
  for (pid_t pid : children) {
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  const std::string content = read_log("Ovik2Environment061206-user01.LOG");
  EXPECT_EQ(count_whole_lines(content, "#"), static_cast<std::size_t>(kProcesses * kEntries));
  EXPECT_EQ(static_cast<std::size_t>(std::count(content.begin(), content.end(), '\n')),
            static_cast<std::size_t>(kProcesses * kEntries));
}

}  // namespace
}  // namespace ovik
