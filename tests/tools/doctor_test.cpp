// `ovik doctor` on a folder of its own: every check on its line, the line to add for a missing
// key, the provider's own error for a database that cannot be reached, and the exit status.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <sstream>

#include "commands.h"
#include "support/temp_dir.h"

namespace ovik::host {
namespace {

// Every section and key the library reads, with SQLite databases in the folder.
std::string complete_settings(const testing::TempDir& dir) {
  std::string settings;
  for (const char* section : {"database", "master_database", "store_database"}) {
    settings += std::string("[") + section + "]\nprovider=SQLite\nserver=" + dir.str() + "/app/" + section +
                ".db\ndatabase_user=\npassword=\ndatabase_name=main\ntransaction_log=false\n";
    dir.write(std::string("app/") + section + ".db", "");  // an empty file is an empty database
  }
  return settings +
         "[accountitem]\naccitem_store=1\naccitem_petty=2\n[Financial]\nserver=f\ndatabase=d\n"
         "[journalpattern]\njouptn_tenant=3\n[getposinfoimport]\npos_file=p\nemployee_file=e\nbat_file_path=b\n";
}

TEST(Doctor, NamesWhatIsMissingAndFailsWhenAnythingDoes) {
  testing::TempDir dir;
  dir.write("app/ini/menu.ini", "[menu]\n");
  const std::string settings = complete_settings(dir);
  dir.write("app/ini/Brindlemark.ini", settings);
  std::filesystem::create_directories(dir.path() / "app/bin");

  std::ostringstream out, err;
  EXPECT_EQ(run_doctor({dir.str() + "/app"}, out, err), 0) << out.str();
  EXPECT_NE(out.str().find("all checks passed"), std::string::npos);

  // A missing key, a word where a number belongs, an unreachable database.
  std::string broken = settings;
  broken.replace(broken.find("accitem_petty=2"), 15, "accitem_petty=two");
  broken.replace(broken.find("journalpattern]\njouptn_tenant=3"), 31, "journalpattern]\n");
  broken.replace(broken.find(dir.str() + "/app/master_database.db"), (dir.str() + "/app/master_database.db").size(),
                 dir.str() + "/no/such/folder.db");
  dir.write("app/ini/Brindlemark.ini", broken);
  std::ostringstream out2;
  EXPECT_EQ(run_doctor({dir.str() + "/app"}, out2, err), 1);
  const std::string report = out2.str();
  EXPECT_NE(report.find("FAIL  [accountitem] accitem_petty: \"two\" is not a whole number"), std::string::npos) << report;
  EXPECT_NE(report.find("FAIL  [journalpattern] jouptn_tenant: missing; add under [journalpattern]: jouptn_tenant=0"),
            std::string::npos);
  EXPECT_NE(report.find("FAIL  connection of [master_database]: 【ConnectDataBase】 "), std::string::npos);
  EXPECT_NE(report.find("ok    connection of [database]"), std::string::npos);
  EXPECT_NE(report.find("3 check(s) failed"), std::string::npos);
}

// A settings file that is there but cannot be read is reported as such, not as a file without a
// single key. Root reads a mode-000 file, so the case that holds for every user is a folder in the
// file's place; the mode-000 file is tried as well when the tests run as another user.
TEST(Doctor, SaysWhenTheSettingsFileCannotBeRead) {
  testing::TempDir dir;
  dir.write("app/ini/menu.ini", "[menu]\n");
  std::filesystem::create_directories(dir.path() / "app/ini/Brindlemark.ini");
  std::filesystem::create_directories(dir.path() / "app/bin");
  std::ostringstream out, err;
  EXPECT_EQ(run_doctor({dir.str() + "/app"}, out, err), 1);
  std::string report = out.str();
  EXPECT_NE(report.find("FAIL  settings file Brindlemark.ini: cannot be read: it is a folder"), std::string::npos)
      << report;
  EXPECT_EQ(report.find("missing; add under"), std::string::npos) << report;
  EXPECT_EQ(report.find("connection of"), std::string::npos) << report;
  EXPECT_NE(report.find("ok    log folder"), std::string::npos) << report;
  EXPECT_NE(report.find("\n1 check(s) failed"), std::string::npos) << report;

  if (geteuid() != 0) {
    std::filesystem::remove(dir.path() / "app/ini/Brindlemark.ini");
    const std::string path = dir.write("app/ini/Brindlemark.ini", complete_settings(dir));
    std::filesystem::permissions(path, std::filesystem::perms::none);
    std::ostringstream denied;
    EXPECT_EQ(run_doctor({dir.str() + "/app"}, denied, err), 1);
    report = denied.str();
    EXPECT_NE(report.find("FAIL  settings file Brindlemark.ini: cannot be read: Permission denied"),
              std::string::npos)
        << report;
    EXPECT_EQ(report.find("missing; add under"), std::string::npos) << report;
    std::filesystem::permissions(path, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
  }
}

// Relative SQLite files are those of the folder checked, not of the folder this program lies in;
// a missing one is reported, never created.
TEST(Doctor, RelativeDatabasesAreThoseOfTheCheckedFolder) {
  testing::TempDir dir;
  dir.write("app/ini/menu.ini", "[menu]\n");
  std::string settings;
  for (const char* section : {"database", "master_database", "store_database"}) {
    settings += std::string("[") + section + "]\nprovider=SQLite\nserver=data/" + section +
                ".db\ndatabase_user=\npassword=\ndatabase_name=main\ntransaction_log=false\n";
  }
  dir.write("app/ini/Brindlemark.ini", settings);
  std::filesystem::create_directories(dir.path() / "app/bin");
  dir.write("app/data/database.db", "");

  std::ostringstream out, err;
  EXPECT_EQ(run_doctor({dir.str() + "/app"}, out, err), 1);
  const std::string report = out.str();
  EXPECT_NE(report.find("ok    connection of [database] to data/database.db"), std::string::npos) << report;
  EXPECT_NE(
      report.find("FAIL  connection of [master_database]: 【ConnectDataBase】 The SQLite database file \"" +
                  dir.str() + "/app/bin/../data/master_database.db\" does not exist"),
      std::string::npos)
      << report;
  EXPECT_FALSE(std::filesystem::exists(dir.path() / "app/data/master_database.db"));
}

}  // namespace
}  // namespace ovik::host
