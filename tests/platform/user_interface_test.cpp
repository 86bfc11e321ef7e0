#include "platform/user_interface.h"

#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <vector>

namespace ovik::platform {
namespace {

// Redirects file descriptor 2 into a temporary file for the life of the object.
class CapturedStderr {
 public:
  CapturedStderr() {
    std::fflush(stderr);
    file_ = std::tmpfile();
    saved_ = ::dup(STDERR_FILENO);
    ::dup2(::fileno(file_), STDERR_FILENO);
  }
  ~CapturedStderr() {
    restore();
    std::fclose(file_);
  }
  std::string text() {
    restore();
    std::string result;
    std::rewind(file_);
    char buffer[512];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, file_)) > 0) result.append(buffer, n);
    return result;
  }

 private:
  void restore() {
    if (saved_ < 0) return;
    std::fflush(stderr);
    ::dup2(saved_, STDERR_FILENO);
    ::close(saved_);
    saved_ = -1;
  }
  std::FILE* file_ = nullptr;
  int saved_ = -1;
};

class UserInterfaceHooks : public ::testing::Test {
 protected:
  void TearDown() override {
    set_message_box_handler({});
    set_focus_hook({});
    set_active_form_hook({});
  }
};

TEST(MessageBoxLine, OneLineWhateverTheText) {
  struct Case {
    const char* text;
    const char* title;
    const char* line;
  };
  for (const Case& c : std::initializer_list<Case>{
           {"failed", "警告", "警告: failed\n"},
           {"first\r\nsecond\nthird\rfourth", "t", "t: first\\nsecond\\nthird\\nfourth\n"},
           {"\r\n\r\n", "t", "t: \\n\\n\n"},
           {"a\tb\x1b[2Jc\x7f", "t", "t: a\\tb\\x1B[2Jc\\x7F\n"},
           {"no title", "", "no title\n"},
           {"", "only title", "only title: \n"},
       }) {
    EXPECT_EQ(message_box_line(c.text, c.title), c.line) << c.text;
  }
}

TEST_F(UserInterfaceHooks, DefaultMessageBoxWritesOneLineToStderrAndAnswersOk) {
  CapturedStderr captured;
  std::int32_t answer = UserInterface().message_box(
      "アプリケーション初期化に失敗しています。\r\n再立ち上げして下さい。", "警告", 64);
  EXPECT_EQ(answer, kMessageBoxOk);
  EXPECT_EQ(captured.text(), "警告: アプリケーション初期化に失敗しています。\\n再立ち上げして下さい。\n");
}

TEST_F(UserInterfaceHooks, HostHandlerReplacesTheDefaultUntilCleared) {
  std::vector<MessageBoxRequest> seen;
  set_message_box_handler([&](const MessageBoxRequest& request) {
    seen.push_back(request);
    return 2;  // IDCANCEL: whatever the host answers is passed back
  });
  {
    CapturedStderr captured;
    EXPECT_EQ(UserInterface().message_box("text", "title", 48), 2);
    EXPECT_EQ(captured.text(), "");
  }
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].text, "text");
  EXPECT_EQ(seen[0].title, "title");
  EXPECT_EQ(seen[0].style, 48);

  set_message_box_handler({});
  CapturedStderr captured;
  EXPECT_EQ(UserInterface().message_box("text", "title", 48), kMessageBoxOk);
  EXPECT_EQ(captured.text(), "title: text\n");
  EXPECT_EQ(seen.size(), 1u);
}

TEST_F(UserInterfaceHooks, HandlerMayInstallAnotherWhileRunning) {
  // A handler runs outside the library's lock, so it may call back into the layer.
  set_message_box_handler([](const MessageBoxRequest&) {
    set_message_box_handler([](const MessageBoxRequest&) { return 7; });
    return 6;
  });
  EXPECT_EQ(UserInterface().message_box("", "", 4), 6);
  EXPECT_EQ(UserInterface().message_box("", "", 4), 7);
}

TEST_F(UserInterfaceHooks, FocusAndActiveFormHooks) {
  UserInterface ui;
  EXPECT_EQ(ui.focused_window_process_id(), static_cast<std::uint32_t>(::getpid()));
  EXPECT_EQ(ui.active_form_type_name(), std::nullopt);

  set_focus_hook([] { return 0u; });
  set_active_form_hook([] { return std::optional<std::string>("frmOrderEntry"); });
  EXPECT_EQ(ui.focused_window_process_id(), 0u);
  EXPECT_EQ(ui.active_form_type_name(), "frmOrderEntry");

  set_focus_hook({});
  set_active_form_hook({});
  EXPECT_EQ(ui.focused_window_process_id(), static_cast<std::uint32_t>(::getpid()));
  EXPECT_EQ(ui.active_form_type_name(), std::nullopt);
}

TEST_F(UserInterfaceHooks, TestsReachTheLayerThroughTheFacility) {
  struct Recorder : UserInterface {
    std::vector<std::string> titles;
    std::int32_t message_box(const std::string&, const std::string& title, std::int32_t) override {
      titles.push_back(title);
      return kMessageBoxOk;
    }
  } recorder;
  {
    ScopedFake<UserInterface> fake(recorder);
    Facility<UserInterface>::get().message_box("x", "警告", 64);
  }
  EXPECT_EQ(recorder.titles, std::vector<std::string>{"警告"});
  EXPECT_NE(&Facility<UserInterface>::get(), &recorder);
}

}  // namespace
}  // namespace ovik::platform
