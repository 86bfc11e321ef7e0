#include "platform/user_interface.h"

#include <mutex>

#include "platform/user_interface_native.h"

namespace ovik::platform {

namespace {

struct Hooks {
  std::mutex mutex;
  MessageBoxHandler message_box;
  FocusHook focus;
  ActiveFormHook active_form;
};

Hooks& hooks() {
  static Hooks instance;
  return instance;
}

// Copies the hook out so that it runs without the lock held.
template <class Function>
Function current(Function Hooks::*member) {
  Hooks& all = hooks();
  std::lock_guard lock(all.mutex);
  return all.*member;
}

template <class Function>
void replace(Function Hooks::*member, Function function) {
  Hooks& all = hooks();
  std::lock_guard lock(all.mutex);
  all.*member = std::move(function);
}

void escape_into(std::string& out, const std::string& text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  for (std::size_t i = 0; i < text.size(); ++i) {
    auto byte = static_cast<unsigned char>(text[i]);
    if (byte == '\r' || byte == '\n') {
      if (byte == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
      out += "\\n";
    } else if (byte == '\t') {
      out += "\\t";
    } else if (byte < 0x20 || byte == 0x7F) {
      out += "\\x";
      out += kHex[byte >> 4];
      out += kHex[byte & 0x0F];
    } else {
      out += static_cast<char>(byte);
    }
  }
}

}  // namespace

std::string message_box_line(const std::string& text, const std::string& title) {
  std::string line;
  if (!title.empty()) {
    escape_into(line, title);
    line += ": ";
  }
  escape_into(line, text);
  line += '\n';
  return line;
}

std::int32_t UserInterface::message_box(const std::string& text, const std::string& title,
                                        std::int32_t style) {
  if (MessageBoxHandler handler = current(&Hooks::message_box)) {
    return handler(MessageBoxRequest{text, title, style});
  }
  return native::message_box(text, title, style);
}

std::uint32_t UserInterface::focused_window_process_id() {
  if (FocusHook hook = current(&Hooks::focus)) return hook();
  return native::focused_window_process_id();
}

std::optional<std::string> UserInterface::active_form_type_name() {
  if (ActiveFormHook hook = current(&Hooks::active_form)) return hook();
  return std::nullopt;
}

void set_message_box_handler(MessageBoxHandler handler) { replace(&Hooks::message_box, std::move(handler)); }
void set_focus_hook(FocusHook hook) { replace(&Hooks::focus, std::move(hook)); }
void set_active_form_hook(ActiveFormHook hook) { replace(&Hooks::active_form, std::move(hook)); }

template <>
UserInterface& Facility<UserInterface>::real() {
  static UserInterface instance;
  return instance;
}

}  // namespace ovik::platform
