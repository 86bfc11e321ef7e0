// What the style bits of a message box ask for, and how its text is made fit for a dialog.
#include <gtest/gtest.h>

#include "ui/gtk/message_box_style.h"

namespace ovik::gtk {
namespace {

std::vector<std::int32_t> answers(const MessageBoxLayout& layout) {
  std::vector<std::int32_t> out;
  for (const Button& b : layout.buttons) out.push_back(b.answer);
  return out;
}

TEST(MessageBoxStyle, ButtonSetsWithTheirAnswersAndWhatClosingAnswers) {
  struct Case {
    std::int32_t style;
    std::vector<std::int32_t> answers;
    std::vector<std::string> labels;
    std::int32_t close_answer;
  };
  const Case cases[] = {
      {0, {1}, {"OK"}, 1},
      {1, {1, 2}, {"OK", "キャンセル"}, 2},
      {2, {3, 4, 5}, {"中止(_A)", "再試行(_R)", "無視(_I)"}, 0},
      {3, {6, 7, 2}, {"はい(_Y)", "いいえ(_N)", "キャンセル"}, 2},
      {4, {6, 7}, {"はい(_Y)", "いいえ(_N)"}, 0},
      {5, {4, 2}, {"再試行(_R)", "キャンセル"}, 2},
      {6, {2, 10, 11}, {"キャンセル", "再実行(_T)", "続行(_C)"}, 2},
      {7, {1}, {"OK"}, 1},   // no such set: the plain OK box
      {15, {1}, {"OK"}, 1},
  };
  for (const Case& c : cases) {
    const MessageBoxLayout layout = layout_of(c.style);
    EXPECT_EQ(answers(layout), c.answers) << c.style;
    std::vector<std::string> labels;
    for (const Button& b : layout.buttons) labels.push_back(b.label);
    EXPECT_EQ(labels, c.labels) << c.style;
    EXPECT_EQ(layout.close_answer, c.close_answer) << c.style;
  }
}

TEST(MessageBoxStyle, IconFromTheSecondFourBits) {
  EXPECT_EQ(layout_of(0).icon, Icon::None);
  EXPECT_EQ(layout_of(16).icon, Icon::Error);
  EXPECT_EQ(layout_of(32 | 4).icon, Icon::Question);
  EXPECT_EQ(layout_of(48 | 1).icon, Icon::Warning);
  EXPECT_EQ(layout_of(64).icon, Icon::Information);  // the start-up notice
  EXPECT_EQ(layout_of(80).icon, Icon::None);
  EXPECT_EQ(layout_of(0xF0).icon, Icon::None);
}

TEST(MessageBoxStyle, DefaultButtonFromTheThirdFourBitsWithinTheButtons) {
  EXPECT_EQ(layout_of(3).default_button, 0u);
  EXPECT_EQ(layout_of(3 | 256).default_button, 1u);
  EXPECT_EQ(layout_of(3 | 512).default_button, 2u);
  EXPECT_EQ(layout_of(4 | 512).default_button, 0u);  // a third button of two: the first
  EXPECT_EQ(layout_of(0 | 256).default_button, 0u);
  EXPECT_EQ(layout_of(2 | 768).default_button, 0u);
}

TEST(MessageBoxStyle, OtherBitsChangeNothing) {
  // Modality, foreground and right-to-left bits of the platform have no meaning here.
  for (std::int32_t extra : {0x1000, 0x2000, 0x10000, 0x40000, 0x80000, 0x100000, static_cast<std::int32_t>(0x80000000)}) {
    const MessageBoxLayout plain = layout_of(4 | 32 | 256);
    const MessageBoxLayout with = layout_of(4 | 32 | 256 | extra);
    EXPECT_EQ(answers(with), answers(plain)) << extra;
    EXPECT_EQ(with.icon, plain.icon) << extra;
    EXPECT_EQ(with.default_button, plain.default_button) << extra;
  }
}

TEST(MessageBoxText, LineBreaksAndBytesThatAreNotText) {
  EXPECT_EQ(dialog_text("一行目\r\n二行目\r三行目\n四行目"), "一行目\n二行目\n三行目\n四行目");
  EXPECT_EQ(dialog_text("\r\n\r\n"), "\n\n");
  EXPECT_EQ(dialog_text(""), "");
  // The Shift_JIS bytes of "あ" in a driver's message: replaced, the rest of the text kept.
  EXPECT_EQ(dialog_text("error: \x82\xa0 failed"), "error: \xEF\xBF\xBD\xEF\xBF\xBD failed");
}

}  // namespace
}  // namespace ovik::gtk
