// What the platform's message box style bits ask for: the buttons in order with the answer each
// gives, the icon, the default button and what closing the box answers. Pure: no GTK here.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace ovik::gtk {

// Answers of a message box (the platform's button ids).
enum Answer : std::int32_t {
  kAnswerOk = 1,
  kAnswerCancel = 2,
  kAnswerAbort = 3,
  kAnswerRetry = 4,
  kAnswerIgnore = 5,
  kAnswerYes = 6,
  kAnswerNo = 7,
  kAnswerTryAgain = 10,
  kAnswerContinue = 11,
};

enum class Icon { None, Error, Question, Warning, Information };

struct Button {
  Answer answer;
  std::string label;  // with a GTK mnemonic ("はい(_Y)")
};

struct MessageBoxLayout {
  std::vector<Button> buttons;
  Icon icon = Icon::None;
  std::size_t default_button = 0;  // index into buttons
  std::int32_t close_answer = 0;   // 0: the box cannot be closed without choosing a button
};

// Buttons are the low four bits (0 OK, 1 OK/Cancel, 2 Abort/Retry/Ignore, 3 Yes/No/Cancel,
// 4 Yes/No, 5 Retry/Cancel, 6 Cancel/Try again/Continue; any other value shows OK), the icon the
// next four (16 error, 32 question, 48 warning, 64 information; any other value none), the
// default button the next four (0 first, 256 second, 512 third, 768 fourth; one beyond the
// buttons falls back to the first). Every other bit is ignored.
MessageBoxLayout layout_of(std::int32_t style);

// The text as a dialog shows it: CR LF and CR become LF, and bytes that are not UTF-8 (a driver's
// message in another code page) become U+FFFD instead of blanking the whole text.
std::string dialog_text(const std::string& text);

}  // namespace ovik::gtk
