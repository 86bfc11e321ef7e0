// PutIni when the file system fails at one step of the write, step after step: the settings file
// is always the old one or the new one, never a mix; "1" means the new one is in place, "0" the
// old one; no temporary file stays behind; and the next PutIni works.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <filesystem>
#include <functional>
#include <fstream>
#include <optional>
#include <sstream>

#include "ovik/component.h"
#include "ovik/environment.h"
#include "support/faulty_files.h"
#include "support/temp_dir.h"

namespace ovik {
namespace {

using testing::FaultyFiles;
using testing::TempDir;
using Op = FaultyFiles::Op;

constexpr const char* kOld =
    "; store settings\r\n[database]\r\nprovider=SQLite\r\nserver=data/app.db\r\n\r\n[store]\r\ncode=0042\r\n";

struct Change {
  const char* name;
  bool file_exists;
  const char* section;
  const char* key;
  const char* value;
};

// A longer and a shorter file than before, a key added, and a file that does not exist yet.
constexpr Change kChanges[] = {
    {"LongerValue", true, "database", "server", "/srv/brindlemark/data/a-much-longer-name-than-before.db"},
    {"ShorterValue", true, "database", "server", "x"},
    {"NewKey", true, "store", "till", "3"},
    {"NewFile", false, "store", "code", "0042"},
};

// The two ways a file is replaced: a new file renamed over the old one, and, where the folder
// takes no new file (its temporary file is refused), the old file rewritten where it stands.
struct Way {
  const char* name;
  std::function<void(FaultyFiles&)> base;
  int skip_open;  // the open that `base` already fails, 0 for none
};

std::vector<Way> ways() {
  return {
      {"Rename", [](FaultyFiles&) {}, 0},
      // The first open reads the old file; the second is the temporary file's.
      {"InPlace", [](FaultyFiles& f) { f.fail(Op::open, 2, EACCES); }, 2},
  };
}

class SettingsFaultTest : public ::testing::Test {
 protected:
  std::string file() const { return dir_.str() + "/app.ini"; }
  void start(const Change& c) {
    std::filesystem::remove(file());
    if (c.file_exists) {
      dir_.write("app.ini", kOld);
      ::chmod(file().c_str(), 0640);
    }
  }
  std::string put(const Change& c) {
    Ref<_clsIniFile> ini = create<_clsIniFile>("OvikEnvironment.clsIniFile");
    ini->put_Path(dir_.str());
    ini->put_FileName("app.ini");
    std::string section = c.section, key = c.key, value = c.value;
    return ini->PutIni(section, key, value);
  }
  std::optional<std::string> content() const {
    if (!std::filesystem::exists(file())) return std::nullopt;
    std::ifstream in(file(), std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
  }
  // Every name in the folder, hidden ones included: a temporary file would show here.
  std::vector<std::string> names() const {
    std::vector<std::string> out;
    for (const auto& entry : std::filesystem::directory_iterator(dir_.path()))
      out.push_back(entry.path().filename().string());
    return out;
  }
  std::optional<std::string> old_content(const Change& c) const {
    return c.file_exists ? std::optional<std::string>(kOld) : std::nullopt;
  }
  // Runs the change once with nothing failing (besides `base`) and returns the file it leaves.
  std::string clean_run(const Change& c, const std::function<void()>& base) {
    start(c);
    faults_.reset();
    base();
    EXPECT_EQ(put(c), "1") << c.name;
    return content().value_or("");
  }
  void expect_old_or_new(const Change& c, const std::string& result, const std::string& expected_new,
                         const std::string& what) {
    const std::optional<std::string> now = content();
    if (result == "1") {
      EXPECT_EQ(now, expected_new) << what << ": answered 1 but the new file is not in place";
    } else {
      EXPECT_EQ(result, "0") << what;
      EXPECT_EQ(now, old_content(c)) << what << ": answered 0 but the old file is gone";
    }
    if (now) {
      struct stat st {};
      ASSERT_EQ(::stat(file().c_str(), &st), 0);
      if (c.file_exists) {
        EXPECT_EQ(st.st_mode & 07777, 0640u) << what;
      }
    }
    EXPECT_EQ(names().size(), now ? 1u : 0u) << what << ": a temporary file stayed behind";
  }

  // Each call of each kind that a clean run of each change makes, each way (but the open that the
  // way fails itself): step(change, way, the file the clean run left, op, n).
  void each_step(const std::function<void(const Change&, const Way&, const std::string&, Op, int)>& step) {
    for (const Change& c : kChanges) {
      for (const Way& way : ways()) {
        if (!c.file_exists && way.skip_open != 0) continue;  // no file to rewrite in place
        const std::string expected_new = clean_run(c, [&] { way.base(faults_); });
        std::array<int, FaultyFiles::kOps.size()> counts{};
        for (Op op : FaultyFiles::kOps) counts[static_cast<std::size_t>(op)] = faults_.calls(op);
        for (Op op : FaultyFiles::kOps)
          for (int n = 1; n <= counts[static_cast<std::size_t>(op)]; ++n)
            if (!(op == Op::open && n == way.skip_open)) step(c, way, expected_new, op, n);
      }
    }
  }

  TempDir dir_;
  FaultyFiles faults_;
};

TEST_F(SettingsFaultTest, EveryFailingStepLeavesTheOldFileOrTheNewOne) {
  each_step([&](const Change& c, const Way& way, const std::string& expected_new, Op op, int n) {
    for (int error : {EIO, EACCES}) {  // EACCES also turns a refused step to the other way
      const std::string what = std::string(c.name) + "/" + way.name + ": " + FaultyFiles::name(op) + " #" +
                               std::to_string(n) + " fails with " + std::to_string(error);
      start(c);
      faults_.reset();
      way.base(faults_);
      faults_.fail(op, n, error);
      const std::string result = put(c);
      ASSERT_GE(faults_.struck(), 1) << what;
      expect_old_or_new(c, result, expected_new, what);
      faults_.reset();
      EXPECT_EQ(put(c), "1") << what << ": the next write";
      EXPECT_EQ(content(), expected_new) << what << ": the next write";
    }
    if (op != Op::write) return;
    // The disk fills up in the middle of each write, and at its very start.
    for (std::size_t room : {std::size_t{0}, std::size_t{60}}) {
      const std::string what = std::string(c.name) + "/" + way.name + ": disk full at write #" +
                               std::to_string(n) + " after " + std::to_string(room) + " bytes";
      start(c);
      faults_.reset();
      way.base(faults_);
      faults_.fill_disk(n, room);
      expect_old_or_new(c, put(c), expected_new, what);
    }
  });
}

// The new file, or, after a crash between writing a shorter file in place and cutting it, the new
// file followed by the blanks that padded it to the old length (blanks that read as nothing).
bool reads_as_new(const std::optional<std::string>& now, const std::string& expected_new) {
  return now && now->starts_with(expected_new) &&
         now->find_first_not_of(' ', expected_new.size()) == std::string::npos;
}

// A crash (or power cut) between any two steps: the process is gone, and what it leaves is the
// old file or the new one. A temporary file of its own may stay, hidden beside it.
TEST_F(SettingsFaultTest, ACrashAtAnyStepLeavesTheOldFileOrTheNewOne) {
  each_step([&](const Change& c, const Way& way, const std::string& expected_new, Op op, int n) {
    const std::string what =
        std::string(c.name) + "/" + way.name + ": crash at " + FaultyFiles::name(op) + " #" + std::to_string(n);
    start(c);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      faults_.reset();
      way.base(faults_);
      faults_.crash(op, n);
      put(c);
      ::_exit(0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == FaultyFiles::kCrashed) << what;
    const std::optional<std::string> now = content();
    EXPECT_TRUE(now == old_content(c) || reads_as_new(now, expected_new)) << what << ": left\n"
                                                                          << now.value_or("(none)");
    // What the crash left does not stand in the way of the next write.
    EXPECT_EQ(put(c), "1") << what;
    EXPECT_TRUE(reads_as_new(content(), expected_new)) << what;
    for (const std::string& name : names())
      if (name != "app.ini") std::filesystem::remove(dir_.path() / name);
  });
}

}  // namespace
}  // namespace ovik
