// The library's message boxes as GTK dialogs: what they show, over which window, and that the
// button pressed is the answer, from the settings lookups down to a box asked for on another thread.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "desktop_fixture.h"
#include "ovik/component.h"
#include "ovik/gtk.h"
#include "ovik/system_info.h"
#include "platform/user_interface.h"
#include "support/fake_platform.h"
#include "support/temp_dir.h"
#include "ui/gtk/message_box_style.h"

namespace ovik::testing {
namespace {

platform::UserInterface& ui() { return platform::Facility<platform::UserInterface>::get(); }

// The text and icon of a box, found in its content.
struct Content {
  std::string text;
  std::string icon;
};

void collect(GtkWidget* widget, Content& content) {
  if (GTK_IS_LABEL(widget) && content.text.empty()) content.text = gtk_label_get_text(GTK_LABEL(widget));
  if (GTK_IS_IMAGE(widget)) {
    const gchar* name = nullptr;
    gtk_image_get_icon_name(GTK_IMAGE(widget), &name, nullptr);
    if (name != nullptr) content.icon = name;
  }
  if (GTK_IS_CONTAINER(widget)) {
    GList* children = gtk_container_get_children(GTK_CONTAINER(widget));
    for (GList* l = children; l != nullptr; l = l->next) collect(GTK_WIDGET(l->data), content);
    g_list_free(children);
  }
}

Content content_of(GtkWindow* box) {
  Content content;
  collect(gtk_dialog_get_content_area(GTK_DIALOG(box)), content);
  return content;
}

// The answer of the button that has the keyboard focus when the box opens.
int focused_answer(GtkWindow* box) {
  GtkWidget* focus = gtk_window_get_focus(box);
  return focus != nullptr ? gtk_dialog_get_response_for_widget(GTK_DIALOG(box), focus) : 0;
}

using MessageBoxTest = DesktopTest;

TEST_F(MessageBoxTest, StartupNoticeOfABrokenSettingIsAModalDialogOverTheActiveWindow) {
  TempDir dir;  // an application folder without settings: every lookup fails
  FakeModule module(dir.str() + "/app/bin");
  GtkWindow* form = focused_window("frmOrderEntry", 480, 260);
  Ref<_clsSystemInfo> si = create<_clsSystemInfo>("OvikEnvironment.clsSystemInfo");

  std::string title;
  Content content;
  std::vector<std::string> labels;
  GtkWindow* parent = nullptr;
  bool modal = false;
  int focused = 0;
  when_message_box_shows([&](GtkWindow* box) {
    title = gtk_window_get_title(box);
    content = content_of(box);
    labels = button_labels(box);
    parent = gtk_window_get_transient_for(box);
    modal = gtk_window_get_modal(box);
    focused = focused_answer(box);
    save_screenshot(box, "startup-notice.png");
    press(box, 1);
  });
  EXPECT_EQ(si->funAccountItem(), 0);  // returns only once the box is answered

  EXPECT_EQ(title, "警告");
  EXPECT_EQ(content.text, "アプリケーション初期化に失敗しています。一旦終了し、再立ち上げして下さい。");
  EXPECT_EQ(content.icon, "dialog-information");
  EXPECT_EQ(labels, std::vector<std::string>{"OK"});
  EXPECT_EQ(focused, 1);
  EXPECT_EQ(parent, form);
  EXPECT_TRUE(modal);
  EXPECT_EQ(shown_message_box(), nullptr);
  EXPECT_TRUE(run_until([&] { return gtk_window_is_active(form); })) << "the focus went back to the form";
}

TEST_F(MessageBoxTest, EachButtonSetShowsItsButtonsAndAnswersTheOnePressed) {
  focused_window("frmOrderEntry");
  struct Case {
    std::int32_t style;
    std::vector<std::string> labels;
    int default_answer;
    int pressed;
  };
  const Case cases[] = {
      {0, {"OK"}, 1, 1},
      {1 | 48, {"OK", "キャンセル"}, 1, 2},
      {2 | 16 | 512, {"中止(_A)", "再試行(_R)", "無視(_I)"}, 5, 3},
      {3 | 32 | 256, {"はい(_Y)", "いいえ(_N)", "キャンセル"}, 7, 6},
      {4 | 32 | 256, {"はい(_Y)", "いいえ(_N)"}, 7, 7},
      {5, {"再試行(_R)", "キャンセル"}, 4, 4},
      {6, {"キャンセル", "再実行(_T)", "続行(_C)"}, 2, 11},
  };
  for (const Case& c : cases) {
    std::vector<std::string> labels;
    int focused = 0;
    int default_response = 0;
    when_message_box_shows([&](GtkWindow* box) {
      labels = button_labels(box);
      focused = focused_answer(box);
      GtkWidget* def = gtk_dialog_get_widget_for_response(GTK_DIALOG(box), c.default_answer);
      default_response = def != nullptr && gtk_widget_has_default(def) ? c.default_answer : 0;
      if (c.style == (3 | 32 | 256)) save_screenshot(box, "message-box-yes-no-cancel.png");
      press(box, c.pressed);
    });
    EXPECT_EQ(ui().message_box("発注データを登録しますか？", "発注入力", c.style), c.pressed) << c.style;
    EXPECT_EQ(labels, c.labels) << c.style;
    EXPECT_EQ(focused, c.default_answer) << c.style;
    EXPECT_EQ(default_response, c.default_answer) << c.style;
  }
}

TEST_F(MessageBoxTest, ClosingAnswersCancelOrTheOnlyButtonAndABoxWithoutEitherStays) {
  focused_window("frmOrderEntry");
  // Closed as the title bar's close button does.
  for (auto [style, answer] : {std::pair{1, 2}, {0, 1}, {64, 1}, {3, 2}, {5, 2}, {6, 2}}) {
    when_message_box_shows([](GtkWindow* box) { gtk_window_close(box); });
    EXPECT_EQ(ui().message_box("閉じる", "警告", style), answer) << style;
  }
  // Yes/No and Abort/Retry/Ignore have no answer for closing: the box stays until a button is
  // pressed, and shows no close button.
  for (auto [style, pressed] : {std::pair{4, 7}, {2, 5}}) {
    bool deletable = true;
    bool stayed = false;
    when_message_box_shows([&, pressed = pressed](GtkWindow* box) {
      deletable = gtk_window_get_deletable(box);
      gtk_window_close(box);
      when_message_box_shows([&, pressed](GtkWindow* still) {
        stayed = true;
        press(still, pressed);
      });
    });
    EXPECT_EQ(ui().message_box("閉じられない", "警告", style), pressed) << style;
    EXPECT_TRUE(stayed) << style;
    EXPECT_FALSE(deletable) << style;
  }
}

TEST_F(MessageBoxTest, AskedOnAnotherThreadTheBoxIsShownByTheGtkThread) {
  GtkWindow* form = focused_window("frmOrderEntry");
  std::int32_t answer = 0;
  std::uint32_t focus = 1;
  std::optional<std::string> form_name = "unread";
  std::atomic<bool> done{false};
  GtkWindow* parent = nullptr;
  when_message_box_shows([&](GtkWindow* box) {
    parent = gtk_window_get_transient_for(box);
    press(box, 6);
  });
  // The thread that puts the box on the screen.
  std::thread::id mapped_by;
  const guint map_signal = g_signal_lookup("map", GTK_TYPE_WIDGET);
  const gulong hook = g_signal_add_emission_hook(
      map_signal, 0,
      [](GSignalInvocationHint*, guint, const GValue* params, gpointer data) -> gboolean {
        if (GTK_IS_DIALOG(g_value_get_object(&params[0])))
          *static_cast<std::thread::id*>(data) = std::this_thread::get_id();
        return TRUE;
      },
      &mapped_by, nullptr);
  std::thread worker([&] {
    // A thread without windows: no focus and no form, as on the platform.
    focus = ui().focused_window_process_id();
    form_name = ui().active_form_type_name();
    answer = ui().message_box("バックグラウンド処理を続けますか？", "警告", 4 | 32);
    done = true;
  });
  EXPECT_TRUE(run_until([&] { return done.load(); }));
  worker.join();
  g_signal_remove_emission_hook(map_signal, hook);
  EXPECT_EQ(answer, 6);
  EXPECT_EQ(parent, form);
  EXPECT_EQ(mapped_by, std::this_thread::get_id());
  EXPECT_EQ(focus, 0u);
  EXPECT_EQ(form_name, std::nullopt);
}

TEST_F(MessageBoxTest, TextIsShownAsGivenAndDisableBringsTheDefaultBack) {
  focused_window(nullptr);
  Content content;
  when_message_box_shows([&](GtkWindow* box) {
    content = content_of(box);
    press(box, 1);
  });
  // Markup characters are text; CR LF is a line break.
  EXPECT_EQ(ui().message_box("<b>在庫</b> & 発注\r\n2行目", "警告", 0), 1);
  EXPECT_EQ(content.text, "<b>在庫</b> & 発注\n2行目");

  gtk::disable();
  // The library's own default answers at once, without a dialog.
  EXPECT_EQ(ui().message_box("disabled", "test", 4), 1);
  EXPECT_EQ(shown_message_box(), nullptr);
}

}  // namespace
}  // namespace ovik::testing
