#include "platform/event_loop.h"

#include <windows.h>

namespace ovik::platform {

namespace {

HANDLE handle_of(const ManualResetEvent& event) { return reinterpret_cast<HANDLE>(event.native_handle()); }

// Every kind of input, raw input among it: the wait must wake for whatever the host's windows get.
constexpr DWORD kWakeMask = QS_ALLINPUT;

// A quit request left in the queue (by PostQuitMessage, or posted again by dispatch_all_messages).
bool quit_requested() {
  MSG message;
  return PeekMessageW(&message, nullptr, WM_QUIT, WM_QUIT, PM_NOREMOVE | PM_NOYIELD) != FALSE;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// ManualResetEvent

CreatedEvent ManualResetEvent::create() {
  HANDLE handle = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (handle == nullptr) {
    const DWORD error = GetLastError();
    return CreatedEvent{nullptr, static_cast<std::int32_t>(error != 0 ? error : ERROR_NOT_ENOUGH_MEMORY)};
  }
  return CreatedEvent{std::unique_ptr<ManualResetEvent>(new ManualResetEvent(reinterpret_cast<std::intptr_t>(handle))),
                      0};
}

ManualResetEvent::~ManualResetEvent() { CloseHandle(handle_of(*this)); }

void ManualResetEvent::set() { SetEvent(handle_of(*this)); }

void ManualResetEvent::reset() { ResetEvent(handle_of(*this)); }

bool ManualResetEvent::is_set() const { return WaitForSingleObject(handle_of(*this), 0) == WAIT_OBJECT_0; }

// ---------------------------------------------------------------------------------------------
// MessageQueue

CreatedEvent MessageQueue::create_event() { return ManualResetEvent::create(); }

std::uint32_t MessageQueue::msg_wait(ManualResetEvent& event, std::uint32_t timeout_ms) {
  if (quit_requested()) return kWaitEvent;
  HANDLE handle = handle_of(event);
  // MWMO_INPUTAVAILABLE: messages already looked at (by peek_message, or left over when a dispatch
  // pass reached its limit) wake the wait too; without it they would sleep until new input came.
  const DWORD result = MsgWaitForMultipleObjectsEx(1, &handle, timeout_ms, kWakeMask, MWMO_INPUTAVAILABLE);
  switch (result) {
    case WAIT_OBJECT_0:
      return kWaitEvent;
    case WAIT_OBJECT_0 + 1:
      return kWaitMessage;
    case WAIT_TIMEOUT:
      return kWaitTimeout;
    default:
      // WAIT_FAILED cannot come from a live event handle; ending the wait beats spinning on it.
      return kWaitTimeout;
  }
}

bool MessageQueue::peek_message() {
  MSG message;
  return PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE | PM_NOYIELD) != FALSE;
}

void MessageQueue::dispatch_all_messages() {
  for (int round = 0; round < kDispatchRounds; ++round) {
    // Wide throughout: the system converts for an ANSI window when it calls its procedure and
    // hands it a double-byte character as its two bytes in a row. Mixing in PeekMessageA would
    // strand the second byte in the thread until its next ANSI call (after the wait), and ANSI
    // calls alone would turn what the code page lacks into "?" for a Unicode window.
    MSG message;
    if (!PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE | PM_NOYIELD)) break;
    if (message.message == WM_QUIT) {
      // The quit belongs to the host's loop; taking it away would keep the program from ending.
      PostQuitMessage(static_cast<int>(message.wParam));
      break;
    }
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
}

template <>
MessageQueue& Facility<MessageQueue>::real() {
  static MessageQueue queue;
  return queue;
}

}  // namespace ovik::platform
