#include "ui/gtk/message_box_style.h"

#include <glib.h>

namespace ovik::gtk {

namespace {

// The labels of the Japanese desktop the store programs were made for, whatever the locale of the
// process: the library's own texts are Japanese, and a notice in Japanese with English buttons
// would be a mixture nobody at a store has seen. The letters in brackets are the keys that choose
// a button with Alt, as there.
Button ok() { return {kAnswerOk, "OK"}; }
Button cancel() { return {kAnswerCancel, "キャンセル"}; }
Button abort_() { return {kAnswerAbort, "中止(_A)"}; }
Button retry() { return {kAnswerRetry, "再試行(_R)"}; }
Button ignore() { return {kAnswerIgnore, "無視(_I)"}; }
Button yes() { return {kAnswerYes, "はい(_Y)"}; }
Button no() { return {kAnswerNo, "いいえ(_N)"}; }
Button try_again() { return {kAnswerTryAgain, "再実行(_T)"}; }
Button continue_() { return {kAnswerContinue, "続行(_C)"}; }

}  // namespace

MessageBoxLayout layout_of(std::int32_t style) {
  MessageBoxLayout layout;
  switch (style & 0xF) {
    case 1: layout.buttons = {ok(), cancel()}; break;
    case 2: layout.buttons = {abort_(), retry(), ignore()}; break;
    case 3: layout.buttons = {yes(), no(), cancel()}; break;
    case 4: layout.buttons = {yes(), no()}; break;
    case 5: layout.buttons = {retry(), cancel()}; break;
    case 6: layout.buttons = {cancel(), try_again(), continue_()}; break;
    default: layout.buttons = {ok()}; break;
  }
  switch (style & 0xF0) {
    case 0x10: layout.icon = Icon::Error; break;
    case 0x20: layout.icon = Icon::Question; break;
    case 0x30: layout.icon = Icon::Warning; break;
    case 0x40: layout.icon = Icon::Information; break;
    default: layout.icon = Icon::None; break;
  }
  const std::size_t wanted = static_cast<std::size_t>((style & 0xF00) >> 8);
  layout.default_button = wanted < layout.buttons.size() ? wanted : 0;
  // Closing a box is choosing Cancel, or OK when that is the only choice; Yes/No and
  // Abort/Retry/Ignore insist on an answer.
  for (const Button& b : layout.buttons)
    if (b.answer == kAnswerCancel) layout.close_answer = kAnswerCancel;
  if (layout.buttons.size() == 1) layout.close_answer = layout.buttons.front().answer;
  return layout;
}

std::string dialog_text(const std::string& text) {
  std::string lines;
  lines.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r') {
      if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
      lines += '\n';
    } else {
      lines += text[i];
    }
  }
  gchar* valid = g_utf8_make_valid(lines.data(), static_cast<gssize>(lines.size()));
  std::string result(valid);
  g_free(valid);
  return result;
}

}  // namespace ovik::gtk
