// What the desktop tests share: GTK with the module turned on, windows that take the focus, a
// main loop run until something holds, and screenshots. Everything runs on the test's thread,
// which is the GTK thread.
#pragma once

#include <gtk/gtk.h>
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace ovik::testing {

class DesktopTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // A shown toplevel with the given widget name (none: GTK's type name stands) that has the focus.
  GtkWindow* focused_window(const char* name, int width = 320, int height = 160);
  // Hides every window of the program and waits until none has the focus.
  void hide_all_windows();

  // Iterates the main context until `done` holds; false when it does not within ten seconds
  // (a generous bound for a slow or sanitized build; no test measures time).
  static bool run_until(const std::function<bool()>& done);
  // Runs `action` from the main loop once the library's message box is on the screen, while the
  // code under test waits in it.
  static void when_message_box_shows(std::function<void(GtkWindow*)> action);
  // The library's message box on the screen, or null.
  static GtkWindow* shown_message_box();
  // The labels of a dialog's buttons, in order.
  static std::vector<std::string> button_labels(GtkWindow* dialog);
  // Presses the button of a dialog that gives `answer`, as a click does.
  static void press(GtkWindow* dialog, int answer);
  // Moves the pointer over the widget and clicks it through the X server, as a person's click
  // arrives (the event comes back through the display connection, during whatever loop runs).
  static void click(GtkWidget* widget);
  // Whether the X server shows the window (GTK's own "mapped" holds before it does).
  static bool viewable(GtkWindow* window);
  // Saves the window with its frame, once it is on the screen and painted there, as a PNG file in
  // the build tree's screenshots folder.
  static void save_screenshot(GtkWindow* window, const std::string& file_name);

 private:
  std::vector<GtkWidget*> windows_;
};

}  // namespace ovik::testing
