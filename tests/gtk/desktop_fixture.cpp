#include "desktop_fixture.h"

#include <X11/extensions/XTest.h>
#include <gdk/gdkx.h>

#include <filesystem>
#include <memory>

#include "ovik/gtk.h"
#include "ui/gtk/desktop.h"

namespace ovik::testing {

namespace {

constexpr gint64 kPatience = 10 * G_USEC_PER_SEC;

struct PendingAction {
  std::function<void(GtkWindow*)> action;
  gint64 give_up = 0;
};

}  // namespace

void DesktopTest::SetUp() {
  ASSERT_TRUE(gtk_init_check(nullptr, nullptr)) << "no display: run the desktop tests through run_on_desktop.sh";
  ASSERT_TRUE(gtk::enable());
}

void DesktopTest::TearDown() {
  for (GtkWidget* w : windows_) gtk_widget_destroy(w);
  windows_.clear();
  while (g_main_context_iteration(nullptr, FALSE)) {
  }
  gtk::disable();
}

GtkWindow* DesktopTest::focused_window(const char* name, int width, int height) {
  GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  windows_.push_back(window);
  if (name != nullptr) gtk_widget_set_name(window, name);
  gtk_window_set_default_size(GTK_WINDOW(window), width, height);
  gtk_widget_show_all(window);
  gtk_window_present(GTK_WINDOW(window));
  EXPECT_TRUE(run_until([&] { return gtk_window_is_active(GTK_WINDOW(window)); }))
      << "the window manager never gave the new window the focus";
  return GTK_WINDOW(window);
}

void DesktopTest::hide_all_windows() {
  for (GtkWidget* w : windows_) gtk_widget_hide(w);
  EXPECT_TRUE(run_until([] { return gtk::focused_toplevel() == nullptr; }));
}

bool DesktopTest::run_until(const std::function<bool()>& done) {
  const gint64 give_up = g_get_monotonic_time() + kPatience;
  // Wakes the loop now and then, so that a condition that no event announces is seen too.
  const guint tick = g_timeout_add(20, [](gpointer) -> gboolean { return G_SOURCE_CONTINUE; }, nullptr);
  bool held = done();
  while (!held && g_get_monotonic_time() < give_up) {
    g_main_context_iteration(nullptr, TRUE);
    held = done();
  }
  g_source_remove(tick);
  return held;
}

void DesktopTest::when_message_box_shows(std::function<void(GtkWindow*)> action) {
  auto pending = std::make_unique<PendingAction>(PendingAction{std::move(action), g_get_monotonic_time() + kPatience});
  g_timeout_add_full(
      G_PRIORITY_DEFAULT, 20,
      [](gpointer data) -> gboolean {
        auto* p = static_cast<PendingAction*>(data);
        GtkWindow* box = shown_message_box();
        if (box == nullptr) {
          if (g_get_monotonic_time() < p->give_up) return G_SOURCE_CONTINUE;
          ADD_FAILURE() << "no message box appeared";
          return G_SOURCE_REMOVE;
        }
        p->action(box);
        return G_SOURCE_REMOVE;
      },
      pending.release(), [](gpointer data) { std::unique_ptr<PendingAction>(static_cast<PendingAction*>(data)); });
}

GtkWindow* DesktopTest::shown_message_box() {
  GtkWindow* found = nullptr;
  GList* windows = gtk_window_list_toplevels();
  for (GList* l = windows; l != nullptr && found == nullptr; l = l->next) {
    GtkWidget* w = GTK_WIDGET(l->data);
    if (g_strcmp0(gtk_widget_get_name(w), gtk::kMessageBoxName) == 0 && gtk_widget_get_mapped(w))
      found = GTK_WINDOW(w);
  }
  g_list_free(windows);
  return found;
}

std::vector<std::string> DesktopTest::button_labels(GtkWindow* dialog) {
  std::vector<std::string> labels;
  // Any one button leads to the box that holds them all, in order.
  GtkWidget* some = gtk_dialog_get_widget_for_response(GTK_DIALOG(dialog), 1);
  for (int answer = 2; some == nullptr && answer <= 11; ++answer)
    some = gtk_dialog_get_widget_for_response(GTK_DIALOG(dialog), answer);
  if (some == nullptr) return labels;
  GList* children = gtk_container_get_children(GTK_CONTAINER(gtk_widget_get_parent(some)));
  for (GList* l = children; l != nullptr; l = l->next)
    if (GTK_IS_BUTTON(l->data)) labels.emplace_back(gtk_button_get_label(GTK_BUTTON(l->data)));
  g_list_free(children);
  return labels;
}

void DesktopTest::press(GtkWindow* dialog, int answer) {
  GtkWidget* button = gtk_dialog_get_widget_for_response(GTK_DIALOG(dialog), answer);
  ASSERT_NE(button, nullptr) << "no button answers " << answer;
  gtk_button_clicked(GTK_BUTTON(button));
}

void DesktopTest::click(GtkWidget* widget) {
  GtkAllocation at;
  gtk_widget_get_allocation(widget, &at);
  int x = 0, y = 0;
  gdk_window_get_origin(gtk_widget_get_window(gtk_widget_get_toplevel(widget)), &x, &y);
  GdkDisplay* display = gtk_widget_get_display(widget);
  Display* x_display = GDK_DISPLAY_XDISPLAY(display);
  XTestFakeMotionEvent(x_display, -1, x + at.x + at.width / 2, y + at.y + at.height / 2, CurrentTime);
  XTestFakeButtonEvent(x_display, 1, True, CurrentTime);
  XTestFakeButtonEvent(x_display, 1, False, CurrentTime);
  gdk_display_flush(display);
}

bool DesktopTest::viewable(GtkWindow* window) {
  GdkWindow* gdk_window = gtk_widget_get_window(GTK_WIDGET(window));
  if (gdk_window == nullptr) return false;
  GdkDisplay* display = gdk_window_get_display(gdk_window);
  XWindowAttributes attributes{};
  gdk_x11_display_error_trap_push(display);
  const Status got = XGetWindowAttributes(GDK_WINDOW_XDISPLAY(gdk_window), GDK_WINDOW_XID(gdk_window), &attributes);
  gdk_x11_display_error_trap_pop_ignored(display);
  return got != 0 && attributes.map_state == IsViewable;
}

void DesktopTest::save_screenshot(GtkWindow* window, const std::string& file_name) {
  // On the screen first, then painted there: GTK counts a window as mapped once it has asked for
  // it, and the window manager maps it later; a paint before that went nowhere.
  GdkWindow* gdk_window = gtk_widget_get_window(GTK_WIDGET(window));
  ASSERT_NE(gdk_window, nullptr);
  ASSERT_TRUE(run_until([&] { return viewable(window); })) << "the window never came on the screen";
  bool painted = false;
  const gulong handler = g_signal_connect_after(window, "draw", G_CALLBACK(+[](GtkWidget*, cairo_t*, gpointer flag) {
                                                  *static_cast<bool*>(flag) = true;
                                                  return FALSE;
                                                }),
                                                &painted);
  gtk_widget_queue_draw(GTK_WIDGET(window));
  EXPECT_TRUE(run_until([&] { return painted; }));
  g_signal_handler_disconnect(window, handler);
  while (g_main_context_iteration(nullptr, FALSE)) {
  }
  gdk_display_sync(gdk_window_get_display(gdk_window));
  GdkRectangle frame;
  gdk_window_get_frame_extents(gdk_window, &frame);
  // Whole on the screen, and nothing over it: the picture shows the window, not what covers it.
  GdkWindow* root = gdk_get_default_root_window();
  EXPECT_GE(frame.width, gtk_widget_get_allocated_width(GTK_WIDGET(window)));
  EXPECT_GE(frame.height, gtk_widget_get_allocated_height(GTK_WIDGET(window)));
  EXPECT_TRUE(frame.x >= 0 && frame.y >= 0 && frame.x + frame.width <= gdk_window_get_width(root) &&
              frame.y + frame.height <= gdk_window_get_height(root))
      << "the frame at " << frame.x << "," << frame.y << " " << frame.width << "x" << frame.height
      << " is not whole on the screen";
  GList* stack = gdk_screen_get_window_stack(gdk_window_get_screen(gdk_window));  // bottom to top
  const GList* top = g_list_last(stack);
  EXPECT_TRUE(top != nullptr && top->data == gdk_window) << "another window stands over the one pictured";
  g_list_free_full(stack, g_object_unref);
  GdkPixbuf* picture =
      gdk_pixbuf_get_from_window(gdk_get_default_root_window(), frame.x, frame.y, frame.width, frame.height);
  ASSERT_NE(picture, nullptr);
  const std::string folder = std::string(OVIK_BINARY_DIR) + "/screenshots";
  std::filesystem::create_directories(folder);
  GError* error = nullptr;
  const gboolean saved = gdk_pixbuf_save(picture, (folder + "/" + file_name).c_str(), "png", &error, nullptr);
  g_object_unref(picture);
  EXPECT_TRUE(saved) << (error != nullptr ? error->message : "");
  if (error != nullptr) g_error_free(error);
}

}  // namespace ovik::testing
