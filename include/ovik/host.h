// What a host program installs so that the library fits its user interface: its own modal
// message box, which process owns the focused window, and the active form's type name. Each
// empty function restores the default (a one-line notice on standard error and in the system
// log answered with OK; the current process; no form).
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "ovik/export.h"

namespace ovik::host_hooks {

struct MessageBox {
  std::string text;
  std::string title;
  std::int32_t style = 0;  // the platform's style bits: 64 = information icon with an OK button
};

// The handler returns the button pressed (1 = OK).
OVIK_API void set_message_box_handler(std::function<std::int32_t(const MessageBox&)> handler);
OVIK_API void set_focus_process_hook(std::function<std::uint32_t()> hook);  // 0 = no focused window
OVIK_API void set_active_form_hook(std::function<std::optional<std::string>()> hook);

}  // namespace ovik::host_hooks
