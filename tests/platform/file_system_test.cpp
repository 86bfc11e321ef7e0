#include "platform/file_system.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

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

TEST_F(FileSystemTest, AppendWritesBytesAsGivenAndCreatesTheFile) {
  const std::string file = path("APP061206-user01.LOG");
  ASSERT_TRUE(files_.append_line(file, "2006/12/06 14:05:09\t0\tuser01\r\n"));
  ASSERT_TRUE(files_.append_line(file, "second\r\n"));
  EXPECT_EQ(read(file), "2006/12/06 14:05:09\t0\tuser01\r\nsecond\r\n");
  struct stat info {};
  ASSERT_EQ(::stat(file.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777 & ~0640u, 0u) << "log files are not open to others";
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
