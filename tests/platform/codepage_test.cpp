#include "platform/codepage.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>

namespace ovik::platform {
namespace {

TEST(Codepage, ServerLocalesAndUnreadableLocalesMeanUtf8) {
  EXPECT_EQ(codeset_for_locale("C"), "UTF-8");
  EXPECT_EQ(codeset_for_locale("POSIX"), "UTF-8");
  EXPECT_EQ(codeset_for_locale("xx_NOWHERE.NO-SUCH-SET"), "UTF-8");
  // Whatever this machine's locale is, the cached codeset must be one that converts.
  EXPECT_FALSE(narrow_codeset().empty());
  EXPECT_EQ(from_narrow(to_narrow("plain ascii")), "plain ascii");
}

TEST(Codepage, SchemeFollowsCodesetNameSpelling) {
  struct Case {
    const char* codeset;
    CharScheme scheme;
  } cases[] = {
      {"UTF-8", CharScheme::utf8},
      {"utf8", CharScheme::utf8},
      {"CP932", CharScheme::shift_jis},
      {"Shift_JIS", CharScheme::shift_jis},
      {"windows-31j", CharScheme::shift_jis},
      {"GBK", CharScheme::double_byte},
      {"BIG5", CharScheme::double_byte},
      {"EUC-JP", CharScheme::euc},
      {"ISO-8859-1", CharScheme::single_byte},
  };
  for (const Case& c : cases) EXPECT_EQ(char_scheme(c.codeset), c.scheme) << c.codeset;
}

TEST(Codepage, Cp932RoundTrips) {
  struct Case {
    std::string_view utf8, cp932;
  } cases[] = {
      {"abc 123", "abc 123"},
      {"日本語", "\x93\xfa\x96\x7b\x8c\xea"},
      {"ソ表", "\x83\x5c\x95\x5c"},           // trail byte 0x5C, the backslash byte
      {"～①髙", "\x81\x60\x87\x40\xfb\xfc"},  // code points only the Windows variant maps
      {"ｱｲ", "\xb1\xb2"},                     // half-width kana are one byte
      {"", ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(to_narrow(c.utf8, "CP932"), c.cp932) << c.utf8;
    EXPECT_EQ(from_narrow(c.cp932, "CP932"), c.utf8) << c.utf8;
  }
  EXPECT_EQ(from_narrow(to_narrow("設定が見つかりません。", "EUC-JP"), "EUC-JP"), "設定が見つかりません。");
}

// A locale's codeset may name Shift_JIS in any of its spellings; the files are code page 932 all the
// same, so "\" stays a backslash (a SQL Server host\instance setting depends on it) and the code
// page's own characters survive instead of becoming "?".
TEST(Codepage, EveryShiftJisNameConvertsAsCodePage932) {
  const std::string_view text = "srv\\inst ~ ① ㈱ ～ － Ⅱ № 髙";
  const std::string_view cp932 =
      "srv\x5cinst \x7e \x87\x40 \x87\x8a \x81\x60 \x81\x7c \x87\x55 \x87\x82 \xfb\xfc";
  for (const char* codeset : {"SHIFT_JIS", "Shift_JIS", "SHIFT-JIS", "SJIS", "sjis", "MS_KANJI", "csShiftJIS",
                              "SHIFT_JISX0213", "CP932", "WINDOWS-31J", "MS932", "SJIS-WIN"}) {
    EXPECT_EQ(char_scheme(codeset), CharScheme::shift_jis) << codeset;
    EXPECT_EQ(to_narrow(text, codeset), cp932) << codeset;
    EXPECT_EQ(from_narrow(cp932, codeset), text) << codeset;
  }
}

TEST(Codepage, WhatCannotBeConvertedBecomesOneQuestionMark) {
  struct Case {
    std::string_view input, codeset;
    bool to;  // to_narrow, else from_narrow
    std::string_view expected;
  } cases[] = {
      {"a😀b", "CP932", true, "a?b"},
      {"aé", "CP932", true, "a?"},
      {"a\xff"
       "b",
       "CP932", true, "a?b"},              // invalid UTF-8 on the way in
      {"a\xe6\x97", "CP932", true, "a?"},  // cut-off sequence at the end
      {"\x85\x40"
       "A",
       "CP932", false, "?A"},  // unassigned pair skipped whole
      {"\x81\x20"
       "x",
       "CP932", false, "? x"},                       // lead byte without trail: the blank survives
      {"x\x81", "CP932", false, "x?"},               // lead byte at the very end
      {"\xc0\xaf", "UTF-8", false, "??"},            // overlong
      {"\xed\xa0\x80", "UTF-8", true, "???"},        // surrogate
      {"\xf4\x90\x80\x80", "UTF-8", false, "????"},  // above U+10FFFF
      {"ok\xe3\x81", "UTF-8", false, "ok??"},
      {"é\xff", "NO-SUCH-CODESET", true, "é?"},  // unknown codeset: sanitised UTF-8
  };
  for (const Case& c : cases) {
    const std::string got = c.to ? to_narrow(c.input, c.codeset) : from_narrow(c.input, c.codeset);
    EXPECT_EQ(got, c.expected) << c.input << " via " << c.codeset;
  }
}

TEST(Codepage, CutNeverSplitsACharacter) {
  struct Case {
    std::string_view bytes, codeset;
    std::size_t max, expected;
  } cases[] = {
      {"a\xe3\x81\x82", "UTF-8", 1, 1},  // "aあ"
      {"a\xe3\x81\x82", "UTF-8", 2, 1},
      {"a\xe3\x81\x82", "UTF-8", 3, 1},
      {"a\xe3\x81\x82", "UTF-8", 4, 4},
      {"\xf0\x9f\x98\x80z", "UTF-8", 3, 0},
      {"\x80\x80\x80\x80\x80", "UTF-8", 3, 3},  // stray continuation bytes count one by one
      {"\xe3\x81"
       "ab",
       "UTF-8", 1, 1},                      // invalid sequence: its bytes count alone
      {"a\x83\x41", "CP932", 2, 1},         // "aア"
      {"\x83\x5c\x83\x5c", "CP932", 3, 2},  // "ソソ"
      {"\x83\x81\x83\x81", "CP932", 3, 2},  // trail byte that could also lead
      {"\xb1\xb2\x83\x41", "CP932", 3, 2},  // half-width kana are single bytes
      {"\x93\xfa", "CP932", 5, 2},
      {"abc", "ISO-8859-1", 2, 2},
      {"\xa4\xa2\xa4\xa4", "EUC-JP", 3, 2},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(narrow_cut(c.bytes, c.max, c.codeset), c.expected) << c.codeset << " max " << c.max;
  }
}

}  // namespace
}  // namespace ovik::platform
