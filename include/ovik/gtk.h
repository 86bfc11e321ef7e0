// The desktop integration for GTK 3 programs (libOvik2Gtk): one call makes the library's user
// interface that of the program.
//
// After enable():
//   - a message box is a modal dialog over the program's active window, its buttons, icon and
//     default button taken from the style bits, and the answer is the button pressed. Closing the
//     dialog answers Cancel where it has a Cancel button, OK where OK is its only button; a box
//     without either (Yes/No, Abort/Retry/Ignore) cannot be closed without a choice;
//   - the active form, written in every trace line, is the name of the program's focused toplevel
//     window: the name given with gtk_widget_set_name, or else its type name ("GtkWindow", or the
//     program's own subclass). While one of the library's message boxes has the focus, the window
//     it stands over counts. No focused window of the program: no form;
//   - the process of the focused window, written in every log entry, is this process while one of
//     its windows has the focus, else 0.
//
// Threads: GTK belongs to the thread that called enable(). A message box asked for on another
// thread is shown by that thread (the caller waits for the answer, so that thread must be running
// its main loop); the focus and the active form asked for on another thread are 0 and none, as a
// thread without windows has no focus.
#pragma once

#include "ovik/export.h"

namespace ovik::gtk {

// Call on the GTK thread after gtk_init (or gtk_init_check). Returns false, and changes nothing,
// when GTK has no display to show anything on. Calling it again changes nothing.
OVIK_API bool enable();

// Gives the library back its own defaults (see ovik/host.h).
OVIK_API void disable();

}  // namespace ovik::gtk
