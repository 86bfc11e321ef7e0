#include "ovik/host.h"
#include "platform/user_interface.h"

namespace ovik::host_hooks {

void set_message_box_handler(std::function<std::int32_t(const MessageBox&)> handler) {
  if (!handler) return platform::set_message_box_handler(nullptr);
  platform::set_message_box_handler([handler = std::move(handler)](const platform::MessageBoxRequest& r) {
    return handler(MessageBox{r.text, r.title, r.style});
  });
}

void set_focus_process_hook(std::function<std::uint32_t()> hook) { platform::set_focus_hook(std::move(hook)); }

void set_active_form_hook(std::function<std::optional<std::string>()> hook) {
  platform::set_active_form_hook(std::move(hook));
}

}  // namespace ovik::host_hooks
