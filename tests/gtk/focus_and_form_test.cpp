// The focused window in the log and the active form in the trace, following the focus of the
// program's windows.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "database/database.h"
#include "desktop_fixture.h"
#include "logging/log.h"
#include "ovik/data_access.h"
#include "ovik/object.h"
#include "support/fake_platform.h"
#include "support/temp_dir.h"

namespace ovik::testing {
namespace {

// Every line of every file in a folder, in file name order.
std::vector<std::string> lines_in(const std::filesystem::path& folder) {
  std::vector<std::filesystem::path> files;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) files.push_back(entry.path());
  std::sort(files.begin(), files.end());
  std::vector<std::string> lines;
  for (const auto& file : files) {
    std::ifstream in(file, std::ios::binary);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
  }
  return lines;
}

// The line that traces `statement`, or "" when there is none.
std::string trace_line_of(const std::vector<std::string>& lines, const std::string& statement) {
  for (const std::string& line : lines)
    if (line.find("*/  " + statement + "\r") != std::string::npos) return line;
  return "";
}

std::string form_field_of(const std::string& line) {
  const std::string label = "active form : ";
  const std::size_t at = line.find(label);
  return at == std::string::npos ? "<no line>" : line.substr(at + label.size(), line.find("*/") - at - label.size());
}

class FocusAndFormTest : public DesktopTest {
 protected:
  void SetUp() override {
    DesktopTest::SetUp();
    std::filesystem::create_directories(dir_.path() / "app/bin");
  }
  TempDir dir_;
  FakeModule module_{dir_.str() + "/app/bin"};
};

TEST_F(FocusAndFormTest, TracedStatementsCarryTheNameOfTheFocusedWindow) {
  Ref<clsDatabase> db = make_object<clsDatabase>();
  db->put_TraceTransaction(true);
  ASSERT_TRUE(db->Connect("Provider=SQLite;Data Source=" + dir_.str() + "/app/order.db;Create If Missing=True",
                          HowToConnectEnum::ConnectByConnectionString));
  Variant affected;
  auto run = [&](const std::string& sql) { db->get_Connection()->Execute(sql, affected, -1); };

  GtkWindow* order = focused_window("frmOrderEntry");
  run("select 1");
  focused_window(nullptr);  // no name of its own: GTK's type name
  run("select 2");
  focused_window("frmOrderConfirmationDialog");  // longer than the field
  run("select 3");
  gtk_window_present(order);
  ASSERT_TRUE(run_until([&] { return gtk_window_is_active(order); }));
  // While the library's message box has the focus, the form it stands over is the active one.
  when_message_box_shows([&](GtkWindow* box) {
    EXPECT_TRUE(run_until([&] { return gtk_window_is_active(box); }));
    run("select 4");
    press(box, 1);
  });
  platform::Facility<platform::UserInterface>::get().message_box("登録しました。", "発注入力", 64);
  hide_all_windows();
  run("select 5");
  ASSERT_TRUE(db->Disconnect());

  const auto lines = lines_in(dir_.path() / "app/bin/transaction_log");
  EXPECT_EQ(form_field_of(trace_line_of(lines, "select 1")), "frmOrderEntry  ");
  EXPECT_EQ(form_field_of(trace_line_of(lines, "select 2")), "GtkWindow      ");
  EXPECT_EQ(form_field_of(trace_line_of(lines, "select 3")), "frmOrderConfirm");
  EXPECT_EQ(form_field_of(trace_line_of(lines, "select 4")), "frmOrderEntry  ");
  EXPECT_EQ(form_field_of(trace_line_of(lines, "select 5")), std::string(15, ' '));
}

TEST_F(FocusAndFormTest, LogEntriesCarryThisProcessWhileOneOfItsWindowsHasTheFocusElseZero) {
  auto log_entry = [](const std::string& text) {
    Ref<clsLog> log = make_object<clsLog>();  // no log database: the entry goes to the day's file
    std::string title = "application log", comment = text;
    log->PutLog(title, comment);
  };
  log_entry("before any window");
  GtkWindow* first = focused_window("frmOrderEntry");
  log_entry("first window");
  focused_window("frmStock");
  log_entry("second window");
  gtk_window_present(first);
  ASSERT_TRUE(run_until([&] { return gtk_window_is_active(first); }));
  log_entry("first window again");
  hide_all_windows();
  log_entry("every window hidden");

  const std::string pid = std::to_string(::getpid());
  std::map<std::string, std::string> process_of;
  for (const std::string& line : lines_in(dir_.path() / "app/bin/log")) {
    std::vector<std::string> fields;
    std::istringstream split(line);
    for (std::string field; std::getline(split, field, '\t');) fields.push_back(field);
    ASSERT_EQ(fields.size(), 6u) << line;
    process_of[fields[5].substr(0, fields[5].find('\r'))] = fields[1];
  }
  EXPECT_EQ(process_of["before any window"], "0");
  EXPECT_EQ(process_of["first window"], pid);
  EXPECT_EQ(process_of["second window"], pid);
  EXPECT_EQ(process_of["first window again"], pid);
  EXPECT_EQ(process_of["every window hidden"], "0");
}

}  // namespace
}  // namespace ovik::testing
