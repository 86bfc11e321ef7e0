// The parts of the GTK desktop integration that its tests reach besides the public call.
// Everything here runs on the GTK thread only.
#pragma once

#include <gtk/gtk.h>

#include <cstdint>
#include <optional>
#include <string>

namespace ovik::gtk {

// The widget name of the library's message boxes, so that they can be told from the program's
// own windows.
inline constexpr const char* kMessageBoxName = "OvikMessageBox";

// The program's toplevel window that has the focus, or null.
GtkWindow* focused_toplevel();

// Shows a modal message box over the program's active window and returns the answer.
std::int32_t run_message_box(const std::string& text, const std::string& title, std::int32_t style);

// The name the trace writes for the program's focused window; none without one.
std::optional<std::string> active_form_name();

}  // namespace ovik::gtk
