// The file and text side of the platform layer under Wine or Windows: the profile functions, the
// ANSI code page, appends from several processes at once, and SQLite files through ODBC. Built
// from the internal archive (ovik_internal, -static); run with a scratch folder:
//   wine64 platform_check.exe 'Z:\tmp\scratch'      (exit status 0 when every check holds)
// The program starts copies of itself as the other appenders.
#include <windows.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "database/access/connection_string.h"
#include "database/access/driver.h"
#include "platform/codepage.h"
#include "platform/file_system.h"
#include "platform/profile.h"

namespace pl = ovik::platform;

namespace {

constexpr int kAppenders = 4;
constexpr int kLinesEach = 300;

int failures = 0;
void check(bool ok, const char* what) {
  std::printf("%s: %s\n", ok ? "ok" : "FAILED", what);
  if (!ok) ++failures;
}

std::string line_of(const std::string& who, int i) {
  return who + " " + std::to_string(i) + std::string(200, 'x');
}

void check_profile(const std::string& folder) {
  const std::string ini = folder + "\\check.ini";
  ::DeleteFileA(ini.c_str());
  char value[256];
  check(pl::write_private_profile_string("sec", "key", "value 1", ini) == 1, "a write creates the file");
  check(pl::get_private_profile_string("SEC", " key ", "-", value, sizeof value, ini) == 7 &&
            std::strcmp(value, "value 1") == 0,
        "names match without case and blanks");
  check(pl::write_private_profile_string("sec", "key", "a\r\nb", ini) == 0 &&
            pl::write_private_profile_string("s]ec", "key", "x", ini) == 0,
        "a value with a line break and a section with \"]\" are refused");
  check(pl::get_private_profile_string("sec", "key", "-", value, sizeof value, "") == 1,
        "no file name reads the default, never win.ini");
  check(pl::write_private_profile_string("sec", "key", "x", folder + "\\missing\\check.ini") == 0,
        "a missing folder fails the write");
}

void check_code_page() {
  check(pl::from_narrow(pl::to_narrow("①㈱～\\日本", "Shift_JIS"), "CP932") == "①㈱～\\日本",
        "code page 932 keeps its own characters and the backslash");
  check(pl::to_narrow("a€b", "CP932") == "a?b", "a character outside the code page becomes ?");
  check(pl::from_narrow("a\x93", "CP932") == "a?", "a cut double-byte character becomes ?");
}

void check_appends(const char* self, const std::string& folder) {
  pl::FileSystem& fs = pl::Facility<pl::FileSystem>::get();
  const std::string log = folder + "\\appends.log";
  ::DeleteFileA(log.c_str());
  check(!fs.append_line(folder + "\\missing\\x.log", "x\r\n") && errno == ENOENT,
        "a missing folder is ENOENT");
  fs.append_line(log, "fragment");
  std::vector<PROCESS_INFORMATION> children;
  for (int k = 0; k < kAppenders; ++k) {
    std::string command = std::string("\"") + self + "\" append \"" + log + "\" " + std::to_string(k);
    STARTUPINFOA start{};
    start.cb = sizeof start;
    PROCESS_INFORMATION child{};
    if (::CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &start,
                         &child))
      children.push_back(child);
  }
  for (PROCESS_INFORMATION& child : children) {
    ::WaitForSingleObject(child.hProcess, INFINITE);
    ::CloseHandle(child.hProcess);
    ::CloseHandle(child.hThread);
  }
  std::ifstream in(log, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  const std::string all = text.str();
  int whole = 0;
  bool only_whole = all.starts_with("fragment\r\n");
  for (std::size_t at = all.find("\r\n") + 2; only_whole && at < all.size(); ++whole) {
    const std::size_t end = all.find("\r\n", at);
    only_whole = end != std::string::npos && end - at > 200 && all.compare(at, 5, "child") == 0;
    at = end + 2;
  }
  check(children.size() == kAppenders && only_whole && whole == kAppenders * kLinesEach,
        "lines appended by several processes at once stay whole, after a line break for the fragment");
}

void check_sqlite(const std::string& folder) {
  using namespace ovik::access;
  const std::string file = folder + "\\check.db";
  ::DeleteFileA(file.c_str());
  bool refused = false;
  try {
    open_driver(ConnectionString::parse("Provider=SQLite;Data Source=" + file));
  } catch (const DriverError& e) {
    refused = std::string(e.what()).find("does not exist") != std::string::npos;
  }
  check(refused, "a missing SQLite file is an error");
  try {
    auto db = open_driver(
        ConnectionString::parse("Provider=SQLite;Data Source=" + file + ";Create If Missing=True"));
    db->execute("CREATE TABLE t (a INTEGER)");
    db->execute("INSERT INTO t VALUES (7)");
    ExecuteResult rows = db->execute("SELECT a FROM t");
    check(
        rows.cursor && rows.cursor->fetch() && db->database_name() == "check" && db->dbms_name() == "SQLite",
        "an SQLite file is created on request and answers through ODBC");
  } catch (const std::exception& e) {
    std::printf("%s\n", e.what());
    check(false, "an SQLite file is created on request and answers through ODBC");
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::strcmp(argv[1], "append") == 0) {
    for (int i = 0; i < kLinesEach; ++i)
      pl::Facility<pl::FileSystem>::get().append_line(argv[2],
                                                      line_of(std::string("child") + argv[3], i) + "\r\n");
    return 0;
  }
  if (argc != 2) {
    std::fprintf(stderr, "usage: platform_check <scratch folder>\n");
    return 2;
  }
  check_profile(argv[1]);
  check_code_page();
  check_appends(argv[0], argv[1]);
  check_sqlite(argv[1]);
  std::printf("%d failed\n", failures);
  return failures == 0 ? 0 : 1;
}
