// Settings, log and trace files under a Japanese locale whose codeset is SHIFT_JIS. The library
// reads the user's locale once per process and never sets one, so the test builds the locale into
// its own folder and runs itself again as a child with LOCPATH and LC_ALL pointing there.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "database/transaction_log.h"
#include "environment/ini_file.h"
#include "logging/log.h"
#include "ovik/component.h"
#include "platform/codepage.h"
#include "support/fake_platform.h"
#include "support/temp_dir.h"

extern char** environ;

namespace ovik {
namespace {

namespace fs = std::filesystem;

constexpr char kChildFolder[] = "OVIK_TEST_SJIS_FOLDER";

// The characters where the strict JIS table and code page 932 part: the backslash of a
// host\instance setting, the tilde, and characters that only code page 932 has.
const std::string kText = "srv\\inst ~ ① ㈱ ～ － Ⅱ № 髙";
const std::string kCp932 = "srv\x5cinst \x7e \x87\x40 \x87\x8a \x81\x60 \x81\x7c \x87\x55 \x87\x82 \xfb\xfc";

// Runs `argv` with `env` and returns its exit status, or -1 when it could not start (errno set).
int run(const std::vector<std::string>& argv, const std::vector<std::string>& env, bool quiet) {
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  std::vector<char*> vars;
  for (const std::string& e : env) vars.push_back(const_cast<char*>(e.c_str()));
  vars.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (quiet) {
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  }
  pid_t pid = 0;
  const int error = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), vars.data());
  posix_spawn_file_actions_destroy(&actions);
  if (error != 0) {
    errno = error;
    return -1;
  }
  int status = 0;
  if (::waitpid(pid, &status, 0) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
}

// Everything but the locale settings of this process, which the child must not inherit.
std::vector<std::string> environment_without_locale() {
  std::vector<std::string> env;
  for (char** e = environ; *e != nullptr; ++e) {
    const std::string_view var(*e);
    if (var.starts_with("LC_") || var.starts_with("LANG=") || var.starts_with("LANGUAGE=") ||
        var.starts_with("LOCPATH=") || var.starts_with("GTEST_") || var.starts_with("LSAN_OPTIONS=") ||
        var.starts_with(kChildFolder)) {
      continue;
    }
    env.emplace_back(var);
  }
  return env;
}

void check_files_in_child(const fs::path& folder) {
  ASSERT_EQ(platform::narrow_codeset(), "SHIFT_JIS") << "the generated locale is not in force";
  testing::FakeModule module((folder / "app/bin").string());
  testing::FakeClock clock(2006, 12, 6, 14, 5, 9);
  testing::FakeUser user("user01");
  testing::FakeFocus focus(7, std::string("frmOrder"));
  fs::create_directories(folder / "app/bin");
  auto bytes = [](const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  };

  Ref<clsIniFile> ini = make_object<clsIniFile>();
  ini->put_Path((folder / "app/ini").string());
  ini->put_FileName("Brindlemark.ini");
  fs::create_directories(folder / "app/ini");
  std::string section = "database";
  std::string key = "ServerName";
  std::string value = kText;
  EXPECT_EQ(ini->PutIni(section, key, value), "1");
  EXPECT_EQ(bytes(folder / "app/ini/Brindlemark.ini"), "[database]\r\nServerName=" + kCp932 + "\r\n");
  EXPECT_EQ(ini->GetIni(section, key), kText);

  Ref<clsLog> log = make_object<clsLog>();
  std::string title = "application log";
  std::string text = kText;
  log->PutLog(title, text);
  EXPECT_EQ(bytes(folder / "app/bin/log/Ovik2Environment061206-user01.LOG"),
            "2006/12/06 14:05:09\t7\tuser01\tOvik2Environment\tapplication log\t" + kCp932 + "\r\n");

  bool purged = false;
  trace::put(kText, purged);
  EXPECT_EQ(bytes(folder / "app/bin/transaction_log/2006_12_06(Ovik2Environment).log"),
            "/* 2006/12/06 14:05:09  active form : frmOrder       */  " + kCp932 + "\r\n");
}

TEST(ShiftJisLocale, SettingsLogAndTraceFilesAreCodePage932) {
  if (const char* folder = std::getenv(kChildFolder)) {
    check_files_in_child(folder);
    return;
  }
  testing::TempDir dir;
  const std::string locales = dir.str() + "/locales";
  fs::create_directories(locales);
  // -c: the charmap is not ASCII-compatible, a warning that would otherwise stop the output.
  const int made = run({"localedef", "-c", "-f", "SHIFT_JIS", "-i", "ja_JP", locales + "/ja_JP.SJIS"},
                       environment_without_locale(), true);
  if (made < 0 && errno == ENOENT) GTEST_SKIP() << "localedef is not installed";
  ASSERT_TRUE(fs::exists(locales + "/ja_JP.SJIS/LC_CTYPE"))
      << "localedef could not build ja_JP.SJIS (exit " << made
      << "); scripts/setup.sh installs the locale sources";

  std::vector<std::string> env = environment_without_locale();
  env.push_back("LOCPATH=" + locales);
  env.push_back("LC_ALL=ja_JP.SJIS");
  env.push_back(std::string(kChildFolder) + "=" + dir.str() + "/work");
  // glibc keeps a few bytes of LOCPATH's parsing for the life of the process; not ours to free.
  const std::string suppressions = dir.write("lsan.supp", "leak:__argz_add_sep\n");
  const char* lsan = std::getenv("LSAN_OPTIONS");
  env.push_back("LSAN_OPTIONS=" + std::string(lsan != nullptr ? lsan : "") + (lsan != nullptr ? ":" : "") +
                "suppressions=" + suppressions);
  const std::string self = fs::read_symlink("/proc/self/exe").string();
  const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
  const std::string filter = std::string("--gtest_filter=") + test->test_suite_name() + "." + test->name();
  EXPECT_EQ(run({self, filter, "--gtest_brief=1"}, env, false), 0)
      << "the child's failures are printed above";
}

}  // namespace
}  // namespace ovik
