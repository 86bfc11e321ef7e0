// The user's number and date settings from the regional settings of the Windows user.
#include <windows.h>

#include <string>

#include "platform/locale_rules.h"
#include "platform/win32/wide.h"

namespace ovik::platform {
namespace {

std::string user_setting(LCTYPE type) {
  wchar_t value[LOCALE_NAME_MAX_LENGTH * 2] = {};
  const int n = ::GetLocaleInfoEx(LOCALE_NAME_USER_DEFAULT, type, value, static_cast<int>(std::size(value)));
  return n > 1 ? win32::to_utf8(std::wstring_view(value, static_cast<std::size_t>(n - 1))) : std::string();
}

// The short date pattern ("yyyy/MM/dd", "M/d/yyyy") in the strftime form date_order_from reads.
// Quoted literals are skipped; "ddd" and longer are weekday names, not the day.
std::string strftime_order(std::string_view pattern) {
  std::string out;
  for (std::size_t i = 0; i < pattern.size();) {
    const char c = pattern[i];
    if (c == '\'') {
      const std::size_t close = pattern.find('\'', i + 1);
      i = close == std::string_view::npos ? pattern.size() : close + 1;
      continue;
    }
    std::size_t run = 1;
    while (i + run < pattern.size() && pattern[i + run] == c) ++run;
    if (c == 'y') out += "%Y";
    if (c == 'M') out += "%m";
    if (c == 'd' && run <= 2) out += "%d";
    i += run;
  }
  return out;
}

}  // namespace

LocaleSettings read_user_locale() {
  LocaleSettings settings;
  const std::string decimal = user_setting(LOCALE_SDECIMAL);
  const std::string date = user_setting(LOCALE_SSHORTDATE);
  // Settings that cannot be read keep the conventions of the Japanese installations.
  if (!decimal.empty())
    settings.number = number_settings_from(decimal, user_setting(LOCALE_STHOUSAND), false);
  if (!date.empty()) settings.date.order = date_order_from(strftime_order(date), false);
  return settings;
}

}  // namespace ovik::platform
