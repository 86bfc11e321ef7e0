// A Wait keeps the program's windows painting and its buttons working.
#include <gtest/gtest.h>

#include "desktop_fixture.h"
#include "ovik/component.h"
#include "ovik/events.h"
#include "ovik/object.h"
#include "ovik/waiting.h"

namespace ovik::testing {
namespace {

class OnTimerCount final : public Listener<OnTimerCount, __clsWaitNDispatch> {
 public:
  void OnTimer() override { ++raised; }
  int raised = 0;
};

// A window whose picture a timer asks to be redrawn every 50 ms, with a Cancel button.
struct AnimatedWindow {
  GtkWindow* window = nullptr;
  GtkWidget* cancel = nullptr;
  int draws = 0;
  int clicks = 0;
  guint timer = 0;
  guint clicker = 0;  // 0 once it has clicked
};

class WaitTest : public DesktopTest {
 protected:
  void SetUp() override {
    DesktopTest::SetUp();
    w_.window = focused_window("frmSending", 300, 200);
    GtkWidget* box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 8);
    GtkWidget* picture = gtk_drawing_area_new();
    gtk_widget_set_size_request(picture, 280, 120);
    g_signal_connect(picture, "draw", G_CALLBACK(+[](GtkWidget*, cairo_t*, gpointer data) -> gboolean {
                       ++static_cast<AnimatedWindow*>(data)->draws;
                       return FALSE;
                     }),
                     &w_);
    w_.cancel = gtk_button_new_with_label("キャンセル");
    gtk_box_pack_start(GTK_BOX(box), picture, TRUE, TRUE, 0);
    gtk_box_pack_start(GTK_BOX(box), w_.cancel, FALSE, FALSE, 0);
    gtk_container_add(GTK_CONTAINER(w_.window), box);
    gtk_widget_show_all(GTK_WIDGET(w_.window));
    w_.timer = g_timeout_add(50, [](gpointer picture) -> gboolean {
      gtk_widget_queue_draw(GTK_WIDGET(picture));
      return G_SOURCE_CONTINUE;
    }, picture);
    ASSERT_TRUE(run_until([&] { return w_.draws > 0 && gtk_widget_get_mapped(w_.cancel); }));
    wait_ = create<_clsWaitNDispatch>("OvikEnvironment.clsWaitNDispatch");
    on_timer_ = make_object<OnTimerCount>();
    wait_.as<IConnectionPointContainer>()->Advise(__clsWaitNDispatch::IID, on_timer_.get());
  }
  void TearDown() override {
    g_source_remove(w_.timer);
    if (w_.clicker != 0) g_source_remove(w_.clicker);
    DesktopTest::TearDown();
  }
  AnimatedWindow w_;
  Ref<_clsWaitNDispatch> wait_;
  Ref<OnTimerCount> on_timer_;
};

TEST_F(WaitTest, ATwoSecondWaitKeepsTheTimerDrivenRedrawGoing) {
  const int before = w_.draws;
  wait_->Wait(2000);
  // About forty redraws are asked for; far fewer would mean the window froze during the wait.
  EXPECT_GE(w_.draws - before, 10);
  EXPECT_EQ(on_timer_->raised, 1);
}

TEST_F(WaitTest, AClickOnTheCancelButtonDuringTheWaitEndsIt) {
  struct Click {
    AnimatedWindow* w;
    _clsWaitNDispatch* wait;
    bool was_waiting = false;
  } clicked{&w_, wait_.get()};
  g_signal_connect(w_.cancel, "clicked", G_CALLBACK(+[](GtkButton*, gpointer data) {
                     auto* c = static_cast<Click*>(data);
                     ++c->w->clicks;
                     c->was_waiting = c->wait->get_IsWaiting();
                     c->wait->Cancel();
                   }),
                   &clicked);
  // Once the wait has painted a few times, the pointer clicks the button through the X server,
  // as a person's click arrives.
  w_.clicker = g_timeout_add(20, [](gpointer data) -> gboolean {
    auto* w = static_cast<AnimatedWindow*>(data);
    if (w->draws < 5) return G_SOURCE_CONTINUE;
    DesktopTest::click(w->cancel);
    w->clicker = 0;
    return G_SOURCE_REMOVE;
  }, &w_);
  // Ten minutes, unless the click ends it; a stuck test is cancelled after half a minute.
  bool rescued = false;
  const guint rescue = g_timeout_add_seconds(30, [](gpointer data) -> gboolean {
    auto* c = static_cast<Click*>(data);
    c->wait->Cancel();
    return G_SOURCE_REMOVE;
  }, &clicked);
  wait_->Wait(600000);
  rescued = w_.clicks == 0;
  if (!rescued) g_source_remove(rescue);
  EXPECT_FALSE(rescued) << "the click never reached the button";
  EXPECT_EQ(w_.clicks, 1);
  EXPECT_TRUE(clicked.was_waiting);
  EXPECT_EQ(on_timer_->raised, 1);
  EXPECT_FALSE(wait_->get_IsWaiting());
}

}  // namespace
}  // namespace ovik::testing
