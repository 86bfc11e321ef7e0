// The thread's message queue as the wait drives it, under Wine or Windows. Built from the
// library's own sources, not through the DLL (the checks need the facility itself):
//   x86_64-w64-mingw32-g++-posix -std=c++20 -DOVIK_STATIC -DWIN32_LEAN_AND_MEAN -DNOMINMAX
//     -D_WIN32_WINNT=0x0601 -Iinclude -Isrc tests/windows/platform_wait_check.cpp
//     src/platform/event_loop_win32.cpp src/platform/user_interface_win32.cpp
//     src/platform/user_interface.cpp -static -luser32 -o platform_wait_check.exe
//   wine64 platform_wait_check.exe      (exit status 0 when every check holds)
// With a display and the Japanese code page (DISPLAY set, LANG=ja_JP.UTF-8) it also checks that
// an ANSI window gets a double-byte character whole from one dispatch pass.
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <vector>

#include "platform/event_loop.h"
#include "platform/user_interface_native.h"

using ovik::platform::MessageQueue;
using ovik::platform::ManualResetEvent;

namespace {

int failures = 0;
void check(bool ok, const char* what) {
  std::printf("%s: %s\n", ok ? "ok" : "FAILED", what);
  if (!ok) ++failures;
}

int ticks = 0;
ManualResetEvent* wake = nullptr;
void CALLBACK on_timer(HWND, UINT, UINT_PTR, DWORD) {
  if (++ticks == 3) wake->set();
}

std::vector<WPARAM> ansi_chars;
LRESULT CALLBACK ansi_window(HWND window, UINT message, WPARAM w, LPARAM l) {
  if (message == WM_CHAR) ansi_chars.push_back(w);
  return DefWindowProcA(window, message, w, l);
}

long long now_ms() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

// The loop of clsWaitNDispatch, without the clock: ends on the event or the time-out.
std::uint32_t wait_and_dispatch(MessageQueue& queue, ManualResetEvent& event, std::uint32_t timeout) {
  for (;;) {
    std::uint32_t r = queue.msg_wait(event, timeout);
    if (r != MessageQueue::kWaitMessage || event.is_set()) return r;
    if (queue.peek_message()) queue.dispatch_all_messages();
  }
}

}  // namespace

int main() {
  MessageQueue queue;
  auto created = queue.create_event();
  check(created.event != nullptr, "event created");
  ManualResetEvent& event = *created.event;
  wake = &event;

  long long start = now_ms();
  check(queue.msg_wait(event, 100) == MessageQueue::kWaitTimeout && now_ms() - start >= 90,
        "no messages: times out after the time-out");

  UINT_PTR timer = SetTimer(nullptr, 0, 30, on_timer);
  start = now_ms();
  std::uint32_t r = wait_and_dispatch(queue, event, 5000);
  KillTimer(nullptr, timer);
  check(r == MessageQueue::kWaitEvent && ticks == 3, "thread timer dispatched until its handler sets the event");
  std::printf("   three ticks took %lld ms\n", now_ms() - start);
  check(queue.msg_wait(event, 0) == MessageQueue::kWaitEvent && event.is_set(), "manual reset: stays set");
  event.reset();
  check(!event.is_set(), "reset clears it");

  PostThreadMessageW(GetCurrentThreadId(), WM_APP, 0, 0);
  event.set();
  check(queue.msg_wait(event, 1000) == MessageQueue::kWaitEvent, "the event wins over a waiting message");
  event.reset();
  // The message has been looked at already; it must still wake the wait.
  check(queue.peek_message(), "a posted message is waiting");
  start = now_ms();
  check(queue.msg_wait(event, 2000) == MessageQueue::kWaitMessage && now_ms() - start < 1000,
        "a message looked at before still wakes the wait");
  queue.dispatch_all_messages();
  check(!queue.peek_message(), "dispatch took every message");

  PostQuitMessage(7);
  check(queue.msg_wait(event, 2000) == MessageQueue::kWaitEvent, "a quit request ends the wait");
  queue.dispatch_all_messages();
  MSG message{};
  check(PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE) && message.message == WM_QUIT && message.wParam == 7,
        "the quit request is left for the host's loop");

  WNDCLASSA ansi_class{};
  ansi_class.lpfnWndProc = ansi_window;
  ansi_class.lpszClassName = "OvikAnsiCheck";
  RegisterClassA(&ansi_class);
  HWND window = CreateWindowExA(0, "OvikAnsiCheck", "", 0, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
  if (window != nullptr && GetACP() == 932) {
    PostMessageW(window, WM_CHAR, 0x3042, 0);  // HIRAGANA LETTER A: 82 A0 in code page 932
    queue.dispatch_all_messages();
    check(ansi_chars == std::vector<WPARAM>{0x82, 0xA0}, "an ANSI window gets both bytes in one pass");
    DestroyWindow(window);
  }

  if (GetEnvironmentVariableA("DISPLAY", nullptr, 0) == 0) {
    check(ovik::platform::native::message_box("text", "title", MB_OK | MB_ICONINFORMATION) == 1,
          "no display: the message box answers OK");
  }
  std::printf("%s\n", failures == 0 ? "all passed" : "FAILURES");
  return failures == 0 ? 0 : 1;
}
