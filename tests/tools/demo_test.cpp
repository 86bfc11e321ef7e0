// `ovik demo` run as a newcomer runs it: the program in a copy of the build's application folder,
// once on the demo settings and once with the application database on PostgreSQL.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "ovik/component.h"
#include "ovik/data_access.h"
#include "support/mariadb_server.h"
#include "support/pg_server.h"
#include "support/temp_dir.h"

namespace {

namespace fs = std::filesystem;

// A copy of the build's application folder without its databases, logs or traces.
void copy_application_folder(const fs::path& to) {
  const fs::path from = fs::path(OVIK_BINARY_DIR) / "app";
  for (const char* folder : {"ini", "sql"}) fs::copy(from / folder, to / folder, fs::copy_options::recursive);
  fs::create_directories(to / "bin");
  for (const auto& entry : fs::directory_iterator(from / "bin"))
    if (entry.is_regular_file()) fs::copy(entry.path(), to / "bin" / entry.path().filename());
}

// The demo's exit status and everything it printed.
std::pair<int, std::string> run_demo(const fs::path& app) {
  const std::string output = (app / "demo.out").string();
  const std::string command = "'" + (app / "bin/ovik").string() + "' demo >'" + output + "' 2>&1";
  const int status = std::system(command.c_str());
  std::string text;
  if (FILE* f = std::fopen(output.c_str(), "rb")) {
    char buffer[4096];
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, f)) > 0;) text.append(buffer, n);
    std::fclose(f);
  }
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, text};
}

bool has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

TEST(DemoTest, RunsOnTheEmbeddedDefaultAndAgainOnTheSameFolder) {
  ovik::testing::TempDir dir;
  copy_application_folder(dir.path());
  for (int run = 1; run <= 2; ++run) {
    auto [status, output] = run_demo(dir.path());
    ASSERT_EQ(status, 0) << output;
    EXPECT_EQ(has(output, "created the empty database data/app.db"), run == 1) << output;
    EXPECT_TRUE(has(output, "wkLog row: application log | DEMO | demo: the store's day started")) << output;
    EXPECT_TRUE(has(output, "SQLite     (IsUnknown)")) << output;
  }
}

// The settings may put the application database on a server: the demo then creates the log
// table and its own table in that server's dialect instead of failing on SQLite's.
enum class DemoServer { kPostgres, kMariaDb };

class DemoServerTest : public ::testing::TestWithParam<DemoServer> {};

TEST_P(DemoServerTest, RunsWithTheApplicationDatabaseOnTheServer) {
  std::string dsn, user, password, database, connection_string, kind;
  if (GetParam() == DemoServer::kPostgres) {
    const auto server = ovik::testing::PgServer::from_environment();
    OVIK_REQUIRE_PG_SERVER(server);
    dsn = server->dsn, user = server->user, password = server->password;
    connection_string = server->connection_string(), kind = "PostgreSQL (IsUnknown)";
  } else {
    const auto server = ovik::testing::MariaDbServer::from_environment();
    OVIK_REQUIRE_MARIADB_SERVER(server);
    dsn = server->dsn, user = server->user, password = server->password, database = server->database;
    connection_string = server->connection_string(), kind = "MariaDB    (IsUnknown)";
  }
  ovik::testing::TempDir dir;
  copy_application_folder(dir.path());
  std::string settings = dir.read("ini/Brindlemark.ini");
  const std::string sqlite_section =
      "[database]\nprovider=SQLite\nserver=data/app.db\ndatabase_user=\npassword=\ndatabase_name=main\n";
  const auto at = settings.find(sqlite_section);
  ASSERT_NE(at, std::string::npos) << settings;
  settings.replace(at, sqlite_section.size(),
                   "[database]\nprovider=MSDASQL\nserver=" + dsn + "\ndatabase_user=" + user +
                       "\npassword=" + password + "\ndatabase_name=" + database + "\n");
  dir.write("ini/Brindlemark.ini", settings);

  for (int run = 1; run <= 2; ++run) {
    auto [status, output] = run_demo(dir.path());
    ASSERT_EQ(status, 0) << output;
    EXPECT_TRUE(has(output, "RecordToDatabase(\"demo_items\") = True")) << output;
    EXPECT_TRUE(has(output, kind)) << output;
    EXPECT_TRUE(has(output, "wkLog row: exception log | Ovik2Environment | demo: an error worth reporting\n"
                            "  wkLog row: application log | DEMO | demo: the store's day started\n"))
        << output;
  }
  ovik::Ref<ovik::_Connection> c = ovik::new_connection();
  c->Open(connection_string, "", "", -1);
  ovik::Variant affected;
  auto rs = c->Execute("select count(*) from wkLog where Comment like 'demo:%'", affected, -1);
  EXPECT_EQ(rs->get_Fields()->get_Item(ovik::Variant(0))->get_Value().to_string(), "4");
}

INSTANTIATE_TEST_SUITE_P(Servers, DemoServerTest,
                         ::testing::Values(DemoServer::kPostgres, DemoServer::kMariaDb),
                         [](const ::testing::TestParamInfo<DemoServer>& info) {
                           return std::string(info.param == DemoServer::kPostgres ? "PostgreSQL" : "MariaDB");
                         });

}  // namespace
