#include "platform/user_interface_native.h"

#include <windows.h>

#include "platform/user_interface.h"
#include "platform/win32/wide.h"

namespace ovik::platform::native {

namespace {

// Where a box could not be shown, the notice goes where the Linux default sends it: standard
// error (when the process has one) and the system's diagnostic channel, the debugger output.
void report_unshown(const std::string& line) {
  const std::wstring wide = win32::to_wide(line);
  OutputDebugStringW(wide.c_str());
  HANDLE error = GetStdHandle(STD_ERROR_HANDLE);
  if (error == nullptr || error == INVALID_HANDLE_VALUE) return;
  DWORD mode = 0;
  DWORD written = 0;
  if (GetConsoleMode(error, &mode)) {
    WriteConsoleW(error, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
  } else {
    WriteFile(error, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
  }
}

}  // namespace

std::int32_t message_box(const std::string& text, const std::string& title, std::int32_t style) {
  const std::wstring wide_text = win32::to_wide(text);
  const std::wstring wide_title = win32::to_wide(title);
  // Owned by the thread's active window, so that the box is modal to the host's form.
  const int answer = MessageBoxW(GetActiveWindow(), wide_text.c_str(), wide_title.c_str(), static_cast<UINT>(style));
  if (answer > 0) return answer;
  // No box could be shown (no interactive desktop, no display): as on Linux, the notice is kept
  // and the caller goes on as after OK.
  report_unshown(message_box_line(text, title));
  return kMessageBoxOk;
}

std::uint32_t focused_window_process_id() {
  HWND focus = GetFocus();
  if (focus == nullptr) return 0;
  DWORD process_id = 0;
  GetWindowThreadProcessId(focus, &process_id);
  return process_id;
}

}  // namespace ovik::platform::native
