#include "platform/profile.h"

#include <grp.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

namespace ovik::platform {
namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;

constexpr const char* kDefault = "Not found";

std::string read_value(std::string_view content, const char* section, const char* key,
                       CharScheme scheme = CharScheme::utf8, std::size_t size = 256) {
  std::string buffer(size, '\x7f');
  const std::size_t n =
      get_profile_string_from_memory(content, section, key, kDefault, buffer.data(), size, scheme);
  EXPECT_LT(n, size);
  EXPECT_EQ(buffer[n], '\0');
  return buffer.substr(0, n);
}

TEST(ProfileRead, Rules) {
  struct Case {
    std::string content;
    const char* section;
    const char* key;
    std::string expected;
  } cases[] = {
      {"[a]\r\nk=v\r\n", "a", "k", "v"},
      {"[Sec]\nKey=Val", "sEC", "kEY", "Val"},        // case of names only
      {"[ a ]\n  k  =  v  \n", " a\t", "\tk ", "v"},  // blanks around names and value
      {"[db]\ntransaction_log=1\n", "db", "transaction_log ", "1"},
      {"[a] trailing text\nk=v", "a", "k", "v"},
      {"[z]\nk=[a]\n x [a]\n\x83[a]\n[a]\nk=2", "a", "k", "2"},  // "[" not first on its line
      {"[z]\n \t[a]\nk=v", "a", "k", "v"},
      {"[a\nk=v", "a", "k", "v"},                         // header without "]"
      {"[x]\r[ a \rk=v", "a", "k", "v"},                  // ... ended by a lone CR
      {"[x]\n[a] [b]\nk=v", "b", "k", kDefault},          // a second "[" on a header line
      {"[[a]\nk=v", "a", "k", kDefault},
      {"[[a]\nk=v", "[a", "k", "v"},
      {"[a]\nk=1=2\n", "a", "k=1", kDefault},             // no key name holds "="
      {"[a]b]\nk=v", "a]b", "k", kDefault},               // nor a section name "]"
      {"[a]\nkey\nkey2=1\nkey =2", "a", "KEY", "2"},       // a longer name, a line without "="
      {"[ab]\nk=1\n[a]\nk=2\n[a b]\nk=3", "A B", "k", "3"},
      {"k=v\n[a]\n", "a", "k", kDefault},                 // before the first header
      {"[a]\nk=1\n[a]\nk=2\nj=3\n", "a", "j", kDefault},  // later duplicate is invisible
      {"[a]\nk=1\nk=2\n", "a", "k", "1"},
      {"[a]\n;k=1\n  ; k=2\nk=3", "a", "k", "3"},  // comments are never keys
      {"[a]\nlevel=3 ; note\n", "a", "level", "3 ; note"},
      {"[a]\nk\nk=2", "a", "k", "2"},  // no "=": not a key
      {"[a]\nk=a=b", "a", "k", "a=b"},
      {"[a]\nk= a  b \t", "a", "k", "a  b"},
      {"[a]\nmy key = v", "a", "MY KEY", "v"},
      {"[a]\n=v", "a", "", "v"},
      {"[a]\nk=", "a", "k", ""},
      {"[a]\nk=\"x\"", "a", "k", "x"},
      {"[a]\nk='x'", "a", "k", "x"},
      {"[a]\nk=\" x \"", "a", "k", " x "},
      {"[a]\nk=\"\"x\"\"", "a", "k", "\"x\""},  // one outer pair only
      {"[a]\nk=\"x'", "a", "k", "\"x'"},
      {"[a]\nk=\"x", "a", "k", "\"x"},
      {"[a]\nk=\"", "a", "k", "\""},
      {"[a]\nk=\"\"", "a", "k", ""},
      {"[a]\n[b]\nk=v", "a", "k", kDefault},  // empty section
      {"[a]\nx=1\n[b]\nk=v", "a", "k", kDefault},
      {"[a]\nk=v", "b", "k", kDefault},
      {"", "a", "k", kDefault},
      {"\xEF\xBB\xBF[a]\nk=v", "a", "k", "v"},  // byte-order mark
      {"[a]\rk=v\rj=w", "a", "j", "w"},         // CR only
      {"[a]\r\nk=v\rj=w\nl=x", "a", "l", "x"},  // mixed
      {"[a]\n\n\n\r\r\nk=v", "a", "k", "v"},
      {"[a]\nk=v\0junk\nj=w"s, "a", "k", "v"},  // NUL ends the line's meaning
      {"[a]\nk=v\0junk\nj=w"s, "a", "j", "w"},
      {"[a]\nk\0=v\n"s, "a", "k", kDefault},
      {"[a\0b]\nk=v"s, "a", "k", "v"},
      {"\0\0\0[a]\nk=v"s, "a", "k", kDefault},
      {"[a]\nk=\xff\xfe\x80", "a", "k", "\xff\xfe\x80"},  // bytes pass through unchanged
  };
  for (const Case& c : cases) {
    EXPECT_EQ(read_value(c.content, c.section, c.key), c.expected) << testing::PrintToString(c.content);
  }
}

TEST(ProfileRead, DefaultAndTruncation) {
  char buffer[8];
  auto get = [&](std::string_view content, const char* def, std::size_t size) {
    std::fill(std::begin(buffer), std::end(buffer), '\x7f');
    return get_profile_string_from_memory(content, "a", "k", def, buffer, size, CharScheme::utf8);
  };
  EXPECT_EQ(get("", nullptr, 8), 0u);
  EXPECT_STREQ(buffer, "");
  EXPECT_EQ(get("", " d  ", 8), 2u);  // trailing spaces of the default go, leading stay
  EXPECT_STREQ(buffer, " d");
  EXPECT_EQ(get("", "defaults", 8), 7u);
  EXPECT_STREQ(buffer, "default");
  EXPECT_EQ(get("[a]\nk=abcdefghij", nullptr, 4), 3u);
  EXPECT_STREQ(buffer, "abc");
  EXPECT_EQ(get("[a]\nk=abc", nullptr, 1), 0u);
  EXPECT_EQ(buffer[0], '\0');
  EXPECT_EQ(get("[a]\nk=abc", nullptr, 0), 0u);
  EXPECT_EQ(buffer[0], '\x7f');  // size 0 writes nothing

  // A character that the byte limit would split is dropped whole.
  EXPECT_EQ(read_value("[a]\nk=a\xe3\x81\x82", "a", "k", CharScheme::utf8, 4), "a");
  EXPECT_EQ(read_value("[a]\nk=a\x83\x41\x83\x43", "a", "k", CharScheme::shift_jis, 5), "a\x83\x41");
}

TEST(ProfileRead, DoubleByteNamesAreNotTornApart) {
  // "ゾ" in CP932 is 0x83 0x5D: its trail byte is "]".
  const std::string content = "[\x83\x5D]\r\nk=v\r\n[\x83\x41]\r\nj=w\r\n";
  EXPECT_EQ(read_value(content, "\x83\x5D", "k", CharScheme::shift_jis), "v");
  EXPECT_EQ(read_value(content, "\x83\x5D", "k", CharScheme::utf8), kDefault);
  // 0x83 0x41 and 0x83 0x61 are different characters, although 0x41/0x61 look like A/a.
  EXPECT_EQ(read_value(content, "\x83\x61", "j", CharScheme::shift_jis), kDefault);
  EXPECT_EQ(read_value(content, "\x83\x41", "J", CharScheme::shift_jis), "w");
  // A lead byte that ends its header line stands alone: the line break is no trail byte.
  EXPECT_EQ(read_value("[z]\r\n[\x83\r\nk=v", "\x83", "k", CharScheme::shift_jis), "v");
  EXPECT_EQ(read_value("[\x83\0]\nk=v"s, "\x83", "k", CharScheme::shift_jis), "v");
}

std::string read_list(std::string_view content, const char* section, std::size_t size,
                      std::size_t& returned) {
  std::string buffer(size, '\x7f');
  returned = get_profile_string_from_memory(content, section, nullptr, kDefault, buffer.data(), size,
                                            CharScheme::utf8);
  return buffer;
}

TEST(ProfileRead, NameLists) {
  const std::string content = "x=0\n[abc]\nk=1\n;c=2\nno key\n j =3\n[def]\nz=1\n[ABC]\ny=2\n[]\n";
  struct Case {
    const char* section;
    std::size_t size;
    std::string expected;  // the whole buffer
    std::size_t returned;
  } cases[] = {
      {nullptr, 14, "abc\0def\0ABC\0\0\x7f"s, 12},  // every header, duplicates included
      {nullptr, 13, "abc\0def\0ABC\0\0"s, 12},      // exact fit
      {nullptr, 12, "abc\0def\0AB\0\0"s, 10},       // cut: size - 2, two NULs
      {nullptr, 6, "abc\0\0\0"s, 4},
      {nullptr, 5, "abc\0\0"s, 3},  // the first name fills all but one byte
      {nullptr, 2, "\0\0"s, 0},
      {nullptr, 1, "\0"s, 0},
      {"abc", 8, "k\0j\0\0\x7f\x7f\x7f"s, 4},   // keys of the first matching section only
      {"nope", 12, "Not found\0\x7f\x7f"s, 9},  // no keys: the default
      {"", 12, "Not found\0\x7f\x7f"s, 9},
  };
  for (const Case& c : cases) {
    std::size_t returned = 0;
    EXPECT_EQ(read_list(content, c.section, c.size, returned), c.expected) << c.size;
    EXPECT_EQ(returned, c.returned) << c.size;
  }
  std::size_t returned = 1;
  EXPECT_EQ(read_list("", nullptr, 4, returned), "\0\0\x7f\x7f"s);
  EXPECT_EQ(returned, 0u);
}

TEST(ProfileWrite, Rules) {
  struct Case {
    std::string content;
    const char* section;
    const char* key;
    const char* value;
    std::string expected;
  } cases[] = {
      {"", "a", "k", "v", "[a]\r\nk=v\r\n"},
      {"", " a ", "\tk ", " v ", "[a]\r\nk= v \r\n"},  // names trimmed, value exact
      {"", "a", "k", "", "[a]\r\nk=\r\n"},
      // replacement keeps every other byte and the file's spelling
      {"; c\n[A]\n  K = old \n;x\n", "a", "k", "new", "; c\n[A]\n  K=new\n;x\n"},
      {"[a]\nk=old", "a", "k", "new", "[a]\nk=new\r\n"},
      {"[a]\rk=old\rj=1", "a", "k", "new", "[a]\rk=new\rj=1"},
      {"[a]\nk=1\n[a]\nk=2\n", "a", "k", "9", "[a]\nk=9\n[a]\nk=2\n"},
      {"[a]\nk=v\0x\n"s, "a", "k", "w", "[a]\nk=w\n"},
      // new key after the last key line, before trailing comments and blank lines
      {"[a]\r\nk=1\r\n; c\r\n\r\n[b]\r\n", "a", "j", "2", "[a]\r\nk=1\r\nj=2\r\n; c\r\n\r\n[b]\r\n"},
      {"[a]\r\n; c\r\n[b]\r\n", "a", "j", "2", "[a]\r\nj=2\r\n; c\r\n[b]\r\n"},
      {"[a]", "a", "j", "2", "[a]\r\nj=2\r\n"},
      {"[a]\r\nk=1", "a", "j", "2", "[a]\r\nk=1\r\nj=2\r\n"},
      // new section at the end, no blank line before it
      {"[a]\r\nk=1\r\n", "b", "j", "2", "[a]\r\nk=1\r\n[b]\r\nj=2\r\n"},
      {"[a]\r\nk=1", "b", "j", "2", "[a]\r\nk=1\r\n[b]\r\nj=2\r\n"},
      {"\xEF\xBB\xBF", "a", "k", "v", "\xEF\xBB\xBF[a]\r\nk=v\r\n"},
      // deletion
      {"[a]\r\nk=1\r\nj=2\r\n", "a", "K", nullptr, "[a]\r\nj=2\r\n"},
      {"[a]\r\nk=1\r\n", "a", "x", nullptr, "[a]\r\nk=1\r\n"},
      {"x=0\r\n[a]\r\nk=1\r\n;c\r\n[b]\r\nj=2\r\n[A]\r\nz=3\r\n", "a", nullptr, nullptr,
       "x=0\r\n[b]\r\nj=2\r\n"},
      {"[a]\r\n", nullptr, nullptr, nullptr, "[a]\r\n"},
  };
  for (const Case& c : cases) {
    const std::optional<std::string> got =
        write_profile_string_in_memory(c.content, c.section, c.key, c.value, CharScheme::utf8);
    ASSERT_TRUE(got.has_value()) << testing::PrintToString(c.content);
    EXPECT_EQ(*got, c.expected) << testing::PrintToString(c.content);
  }
}

TEST(ProfileWrite, RefusesWhatWouldNotReadBack) {
  struct Case {
    const char* section;
    const char* key;
    const char* value;
    CharScheme scheme;
  } cases[] = {
      {"a", "k", "v\r\n[evil]", CharScheme::utf8}, {"a\nb", "k", "v", CharScheme::utf8},
      {"a", "k\r", "v", CharScheme::utf8},         {"a]b", "k", "v", CharScheme::utf8},
      {"a", "k=x", "v", CharScheme::utf8},         {"a", ";k", "v", CharScheme::utf8},
      {"a", " [k", "v", CharScheme::utf8},         {nullptr, "k", "v", CharScheme::utf8},
      {"\x83", "k", "v", CharScheme::shift_jis},  // a lone lead byte would swallow the "]"
  };
  for (const Case& c : cases) {
    EXPECT_FALSE(write_profile_string_in_memory("[a]\r\nk=1\r\n", c.section, c.key, c.value, c.scheme))
        << (c.section ? c.section : "(null)") << " / " << c.key;
  }
}

TEST(ProfileWrite, WhatIsWrittenReadsBack) {
  const std::string start = "; settings\r\n[x]\r\nk=0\r\n\r\n[\x83\x5D]\r\n";
  const char* values[] = {"plain", "", "a = b ; c", "\x93\xfa\x96\x7b", "'quoted'"};
  const char* expected[] = {"plain", "", "a = b ; c", "\x93\xfa\x96\x7b", "quoted"};
  for (const char* section : {"x", "X ", "\x83\x5D", "new"}) {
    std::string content = start;
    for (std::size_t i = 0; i < std::size(values); ++i) {
      content =
          write_profile_string_in_memory(content, section, "key", values[i], CharScheme::shift_jis).value();
      EXPECT_EQ(read_value(content, section, "KEY", CharScheme::shift_jis), expected[i]) << section;
    }
    EXPECT_EQ(read_value(content, "x", "k", CharScheme::shift_jis), "0");
  }
}

// ---- on disk ----

class ProfileFile : public testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "ovik-profile-XXXXXX").native();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
    path_ = (dir_ / "settings.ini").native();
  }
  void TearDown() override {
    std::error_code ignored;
    fs::permissions(dir_, fs::perms::owner_all, fs::perm_options::add, ignored);
    fs::remove_all(dir_, ignored);
  }

  void put(const std::string& content) { std::ofstream(path_, std::ios::binary) << content; }
  std::string contents() const {
    std::ifstream in(path_, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  std::string get(const char* section, const char* key, const std::string& path, std::size_t size = 256) {
    std::string buffer(size, '\x7f');
    const std::size_t n = get_private_profile_string(section, key, kDefault, buffer.data(), size, path);
    return buffer.substr(0, n);
  }
  std::size_t entries() const {
    return static_cast<std::size_t>(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()));
  }

  fs::path dir_;
  std::string path_;
};

TEST_F(ProfileFile, CreatesReplacesAndReadsBack) {
  EXPECT_EQ(get("a", "k", path_), kDefault);
  EXPECT_NE(write_private_profile_string("a", "k", nullptr, path_), 0);  // nothing to delete
  EXPECT_FALSE(fs::exists(path_));

  ASSERT_NE(write_private_profile_string("a", "k", "v", path_), 0);
  EXPECT_EQ(contents(), "[a]\r\nk=v\r\n");
  ASSERT_NE(write_private_profile_string("a", "k", "w", path_), 0);
  EXPECT_EQ(get("A", "K", path_), "w");
  EXPECT_EQ(entries(), 1u);  // no temporary file left behind
}

// Owner, group, mode and every extended attribute (ACLs among them) of the file `path` leads to.
std::tuple<uid_t, gid_t, mode_t, std::map<std::string, std::string>> identity_of(const std::string& path) {
  struct stat st {};
  EXPECT_EQ(::stat(path.c_str(), &st), 0);
  std::map<std::string, std::string> xattrs;
  char names[4096], value[4096];
  const ssize_t n = ::listxattr(path.c_str(), names, sizeof names);
  for (ssize_t at = 0; at < n; at += static_cast<ssize_t>(std::strlen(names + at)) + 1) {
    const ssize_t size = ::getxattr(path.c_str(), names + at, value, sizeof value);
    xattrs[names + at] = std::string(value, size < 0 ? 0 : static_cast<std::size_t>(size));
  }
  return {st.st_uid, st.st_gid, st.st_mode & 07777, xattrs};
}

// Sets a POSIX ACL the way the kernel stores it (version, then tag | permissions << 16 and id per
// entry, little-endian): the owner reads and writes, user nobody reads, group and others get nothing.
void let_nobody_read(const fs::path& path, const char* which) {
  constexpr std::uint32_t kNoId = ~0u;
  const std::uint32_t acl[] = {2, 0x60001, kNoId, 0x40002, 65534, 0x4, kNoId, 0x40010, kNoId, 0x20, kNoId};
  ASSERT_EQ(::setxattr(path.c_str(), which, acl, sizeof acl, 0), 0) << std::strerror(errno);
}

// Written through whichever name, the file keeps its mode, owner, group, ACL and every other name:
// a second hard link reads the new value as well, and symbolic links stay links.
TEST_F(ProfileFile, KeepsTheFilesIdentityAndWritesThroughLinks) {
  struct Case {
    const char* what;
    std::function<void()> make;
    std::vector<std::string> names;  // written through the first; each must read the new value
  } cases[] = {
      {"a plain file", [&] { fs::permissions(path_, fs::perms(0604)); }, {"settings.ini"}},
      {"an absolute link",
       [&] { fs::create_symlink(path_, dir_ / "link.ini"); },
       {"link.ini", "settings.ini"}},
      {"a chain of relative links",
       [&] {
         fs::create_directory(dir_ / "sub");
         fs::create_symlink("../settings.ini", dir_ / "sub" / "one.ini");
         fs::create_symlink("sub/one.ini", dir_ / "two.ini");
       },
       {"two.ini", "sub/one.ini", "settings.ini"}},
      {"a second name",
       [&] { fs::create_hard_link(path_, dir_ / "other.ini"); },
       {"settings.ini", "other.ini"}},
      {"an ACL on a 0600 file",
       [&] {
         fs::permissions(path_, fs::perms(0600));
         let_nobody_read(path_, "system.posix_acl_access");
       },
       {"settings.ini"}},
      {"a folder's default ACL, which the file has not got",
       [&] { let_nobody_read(dir_, "system.posix_acl_default"); },
       {"settings.ini"}},
  };
  for (const Case& c : cases) {
    ::removexattr(dir_.c_str(), "system.posix_acl_default");
    for (const auto& entry : fs::directory_iterator(dir_)) fs::remove_all(entry.path());
    put("[a]\r\nk=1\r\n");
    c.make();
    const auto before = identity_of(path_);
    std::vector<fs::file_type> kinds;
    for (const std::string& name : c.names) kinds.push_back(fs::symlink_status(dir_ / name).type());

    ASSERT_NE(write_private_profile_string("a", "k", "2", (dir_ / c.names[0]).native()), 0) << c.what;
    for (std::size_t i = 0; i < c.names.size(); ++i) {
      EXPECT_EQ(get("a", "k", (dir_ / c.names[i]).native()), "2") << c.what << ": " << c.names[i];
      EXPECT_EQ(fs::symlink_status(dir_ / c.names[i]).type(), kinds[i]) << c.what << ": " << c.names[i];
    }
    EXPECT_TRUE(identity_of(path_) == before) << c.what;
  }
}

TEST_F(ProfileFile, BadPlacesGiveTheDefaultOrFail) {
  const std::string missing_folder = (dir_ / "no" / "such.ini").native();
  EXPECT_EQ(get("a", "k", missing_folder), kDefault);
  EXPECT_EQ(write_private_profile_string("a", "k", "v", missing_folder), 0);
  EXPECT_FALSE(fs::exists(dir_ / "no"));

  fs::create_directory(path_);  // a folder where the file should be
  EXPECT_EQ(get("a", "k", path_), kDefault);
  EXPECT_EQ(write_private_profile_string("a", "k", "v", path_), 0);
  fs::remove(path_);

  ASSERT_EQ(::mkfifo(path_.c_str(), 0600), 0);  // must not block
  EXPECT_EQ(get("a", "k", path_), kDefault);
  EXPECT_EQ(write_private_profile_string("a", "k", "v", path_), 0);
  fs::remove(path_);

  EXPECT_EQ(get("a", "k", ""), kDefault);
  EXPECT_EQ(write_private_profile_string("a", "k", "v", ""), 0);
}

TEST_F(ProfileFile, PermissionDenied) {
  if (::geteuid() == 0) GTEST_SKIP() << "root ignores file permissions";
  put("[a]\r\nk=1\r\n");
  fs::permissions(path_, fs::perms::owner_read);  // write-protected
  EXPECT_EQ(write_private_profile_string("a", "k", "2", path_), 0);
  EXPECT_EQ(get("a", "k", path_), "1");

  fs::permissions(path_, fs::perms::none);
  EXPECT_EQ(get("a", "k", path_), kDefault);
  EXPECT_EQ(write_private_profile_string("a", "k", "2", path_), 0);  // cannot keep what it cannot read

  // A folder that takes no temporary file: the writable file is rewritten where it stands.
  fs::permissions(path_, fs::perms::owner_read | fs::perms::owner_write);
  fs::permissions(dir_, fs::perms::owner_read | fs::perms::owner_exec);
  EXPECT_NE(write_private_profile_string("a", "k", "2", path_), 0);
  EXPECT_EQ(contents(), "[a]\r\nk=2\r\n");
  EXPECT_EQ(write_private_profile_string("a", "new", "x", (dir_ / "new.ini").native()), 0);
}

// Every write that answers success is in the file, however many processes write at once, also
// while the file is still being created.
TEST_F(ProfileFile, ConcurrentWritersLoseNoUpdate) {
  constexpr int kProcesses = 8;
  constexpr int kKeys = 50;
  auto key_of = [](int p, int k) { return "p" + std::to_string(p) + "k" + std::to_string(k); };
  std::vector<pid_t> children;
  for (int p = 0; p < kProcesses; ++p) {
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      bool all_written = true;
      for (int k = 0; k < kKeys; ++k) {
        const std::string key = key_of(p, k);
        all_written = write_private_profile_string("s", key.c_str(), key.c_str(), path_) != 0 && all_written;
      }
      ::_exit(all_written ? 0 : 1);
    }
    children.push_back(child);
  }
  for (pid_t child : children) {
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "a write answered 0";
  }
  int missing = 0;
  for (int p = 0; p < kProcesses; ++p) {
    for (int k = 0; k < kKeys; ++k) missing += get("s", key_of(p, k).c_str(), path_) != key_of(p, k);
  }
  EXPECT_EQ(missing, 0);
  EXPECT_EQ(entries(), 1u);
}

TEST_F(ProfileFile, ReadsFilesAroundTheBufferSize) {
  for (std::size_t size : {(std::size_t{1} << 16) - 1, std::size_t{1} << 16, (std::size_t{1} << 16) + 1}) {
    std::string text = "[a]\n;" + std::string(size, 'c');
    text.replace(size - 6, 6, "\nk=end");
    text.resize(size);
    put(text);
    EXPECT_EQ(get("a", "k", path_), "end") << size;
  }
}

TEST_F(ProfileFile, HugeLineAndNoFinalBreak) {
  put("[a]\nbig=" + std::string(1 << 20, 'x') + "\nk=v");
  EXPECT_EQ(get("a", "big", path_), std::string(255, 'x'));
  EXPECT_EQ(get("a", "k", path_), "v");
  ASSERT_NE(write_private_profile_string("a", "j", "w", path_), 0);
  EXPECT_EQ(get("a", "j", path_), "w");
  EXPECT_EQ(contents().substr(contents().size() - 11), "\nk=v\r\nj=w\r\n");
}

// ---- a settings file shared by the members of a group ----

struct Identity {
  uid_t uid;
  gid_t gid;
  std::vector<gid_t> groups;
};

constexpr gid_t kStaff = 54400;
const Identity kBob{54402, 54402, {54402, kStaff}};
const Identity kCarol{54403, 54403, {54403, kStaff}};
const Identity kDave{54404, 54404, {54404}};  // not a member
constexpr uid_t kAlice = 54401;
const Identity kRoot{0, 0, {0}};

// The write's result as another user, from a child process; -1 when the child could not become
// that user.
int write_as(const Identity& who, const char* key, const char* value, const std::string& path) {
  const pid_t child = ::fork();
  if (child == 0) {
    if (::setgroups(who.groups.size(), who.groups.data()) != 0 ||
        ::setresgid(who.gid, who.gid, who.gid) != 0 || ::setresuid(who.uid, who.uid, who.uid) != 0) {
      ::_exit(99);
    }
    ::_exit(write_private_profile_string("a", key, value, path) != 0 ? 1 : 0);
  }
  int status = 0;
  if (child < 0 || ::waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status) == 99 ? -1 : WEXITSTATUS(status);
}

class SharedProfileFile : public ProfileFile {
 protected:
  void SetUp() override {
    ProfileFile::SetUp();
    if (::geteuid() != 0) GTEST_SKIP() << "acting as several users needs root";
    own(dir_.native(), 0, kStaff, 0775);
    put("[a]\r\nk=0\r\n");
    own(path_, kAlice, kStaff, 0664);
  }
  static void own(const std::string& path, uid_t uid, gid_t gid, mode_t mode) {
    ASSERT_EQ(::chown(path.c_str(), uid, gid), 0);
    ASSERT_EQ(::chmod(path.c_str(), mode), 0);
  }
  struct stat status() const {
    struct stat st {};
    EXPECT_EQ(::stat(path_.c_str(), &st), 0);
    return st;
  }
};

TEST_F(SharedProfileFile, GroupAndModeSurviveAMembersWrite) {
  ASSERT_EQ(write_as(kBob, "k", "1", path_), 1);
  EXPECT_EQ(status().st_gid, kStaff);
  EXPECT_EQ(status().st_mode & 07777, 0664u);
  ASSERT_EQ(write_as(kCarol, "k", "2", path_), 1) << "the next member can still write";
  EXPECT_EQ(get("a", "k", path_), "2");

  own(path_, kAlice, kStaff, 0664);
  ASSERT_NE(write_private_profile_string("a", "k", "3", path_), 0);  // root gives it back to its owner
  EXPECT_EQ(status().st_uid, kAlice);
  EXPECT_EQ(status().st_gid, kStaff);
  EXPECT_EQ(entries(), 1u);
}

TEST_F(SharedProfileFile, WhereNoNewFileCanTakeItsPlaceTheFileIsRewrittenInPlace) {
  struct Case {
    const char* what;
    mode_t folder_mode;
    const Identity& writer;
    uid_t file_owner;
    mode_t file_mode;
  } cases[] = {
      {"a folder the writer cannot add to", 0755, kBob, kBob.uid, 0644},
      {"a sticky shared folder and another member's file", 01777, kBob, kAlice, 0664},
      {"a writer outside the file's group", 0777, kDave, kAlice, 0666},
  };
  for (const Case& c : cases) {
    own(dir_.native(), 0, kStaff, c.folder_mode);
    own(path_, c.file_owner, kStaff, c.file_mode);
    const ino_t inode = status().st_ino;
    EXPECT_EQ(write_as(c.writer, "k", c.what, path_), 1) << c.what;
    EXPECT_EQ(get("a", "k", path_), c.what);
    EXPECT_EQ(status().st_ino, inode) << c.what;
    EXPECT_EQ(status().st_uid, c.file_owner) << c.what;
    EXPECT_EQ(status().st_gid, kStaff) << c.what;
    EXPECT_EQ(status().st_mode & 07777, c.file_mode) << c.what;
    EXPECT_EQ(entries(), 1u) << "no temporary file is left: " << c.what;
  }
}

// In a folder that the group may add to, a member could plant a link to any file; a link is followed
// only when it belongs to root, to the writer or to the folder's owner.
TEST_F(SharedProfileFile, LinksAreFollowedOnlyWhenTheirOwnerIsTrusted) {
  own(dir_.native(), kAlice, kStaff, 0775);
  const std::string secret = (dir_ / "root-only.conf").native();
  std::ofstream(secret) << "root=only\n";
  own(secret, 0, 0, 0600);
  struct Link {
    std::string name, to;
    uid_t owner;
  };
  struct Case {
    const char* what;
    std::vector<Link> chain;  // written through the first
    const Identity& writer;
    bool followed;
  } cases[] = {
      {"a link that another member planted", {{"planted.ini", secret, kBob.uid}}, kRoot, false},
      {"a root link to a planted one",
       {{"via.ini", "planted.ini", 0}, {"planted.ini", secret, kBob.uid}},
       kRoot,
       false},
      {"a link of the folder's owner", {{"alice.ini", secret, kAlice}}, kRoot, true},
      {"a link of root", {{"root.ini", path_, 0}}, kBob, true},
      {"the writer's own link", {{"bob.ini", path_, kBob.uid}}, kBob, true},
  };
  for (const Case& c : cases) {
    for (const Link& link : c.chain) {
      fs::remove(dir_ / link.name);
      fs::create_symlink(link.to, dir_ / link.name);
      ASSERT_EQ(::lchown((dir_ / link.name).c_str(), link.owner, static_cast<gid_t>(-1)), 0);
    }
    const std::string before = get("a", "k", c.chain.back().to);
    EXPECT_EQ(write_as(c.writer, "k", c.what, (dir_ / c.chain[0].name).native()), c.followed ? 1 : 0)
        << c.what;
    EXPECT_EQ(get("a", "k", c.chain.back().to), c.followed ? c.what : before) << c.what;
  }
}

}  // namespace
}  // namespace ovik::platform
