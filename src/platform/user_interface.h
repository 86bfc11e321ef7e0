// The user-interface runtime layer: modal message boxes, the process of the focused window and
// the type name of the active form.
//
// The library has no toolkit of its own. A host program with a user interface installs its own
// handlers once (typically at start, before creating any class of the library); without them
// the defaults below apply.
//   Linux:
//   - message box: one line "title: text" to standard error and to the system log, answered
//     with OK (1) at once;
//   - focused window: the current process id (0 would mean no focused window);
//   Windows:
//   - message box: MessageBoxW with the caller's style, owned by the thread's active window;
//     where no box can be shown (no interactive desktop), the line above goes to standard error
//     and the debugger output, and the answer is OK (1);
//   - focused window: the process of the window that GetFocus names, 0 when none;
//   Both:
//   - active form: none.
// Installing an empty function brings the default back. Handlers are called on the caller's
// thread and outside any lock of the library, so a handler may run a nested event loop.
//
// UserInterface is also a facility (see facility.h): tests install a recorder with ScopedFake.
// Its virtual members are the real implementation, which consults the installed handlers.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "ovik/export.h"
#include "platform/facility.h"

namespace ovik::platform {

struct MessageBoxRequest {
  std::string text;
  std::string title;
  std::int32_t style = 0;  // the Windows style bits: buttons, icon, default button
};

inline constexpr std::int32_t kMessageBoxOk = 1;  // IDOK

class UserInterface {
 public:
  virtual ~UserInterface() = default;

  // Shows a modal message box and returns the id of the button chosen.
  virtual std::int32_t message_box(const std::string& text, const std::string& title, std::int32_t style);
  // The process id of the window that has the keyboard focus on this thread; 0 for none.
  virtual std::uint32_t focused_window_process_id();
  // The type name of the active form; none when there is no form (or no host hook).
  virtual std::optional<std::string> active_form_type_name();
};

using MessageBoxHandler = std::function<std::int32_t(const MessageBoxRequest&)>;
using FocusHook = std::function<std::uint32_t()>;
using ActiveFormHook = std::function<std::optional<std::string>()>;

// Hooks of the host program; an empty function restores the default.
OVIK_API void set_message_box_handler(MessageBoxHandler handler);
void set_focus_hook(FocusHook hook);
void set_active_form_hook(ActiveFormHook hook);

// The default message box's line, newline included. Line breaks (CR LF, CR or LF) are shown as
// "\n" and other control characters as "\t" or "\xHH", so the notice stays one line and text
// from outside (a driver's message, say) cannot drive the terminal.
std::string message_box_line(const std::string& text, const std::string& title);

}  // namespace ovik::platform
