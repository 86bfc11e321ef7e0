// What the user-interface layer does when the host has installed no hook of its own; defined once
// per platform (user_interface_posix.cpp, user_interface_win32.cpp).
#pragma once

#include <cstdint>
#include <string>

namespace ovik::platform::native {

std::int32_t message_box(const std::string& text, const std::string& title, std::int32_t style);
std::uint32_t focused_window_process_id();

}  // namespace ovik::platform::native
