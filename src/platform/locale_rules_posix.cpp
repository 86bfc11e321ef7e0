// The user's number and date settings as the C library's locales report them.
#include <langinfo.h>
#include <locale.h>

#include <string_view>

#include "platform/locale_rules.h"

namespace ovik::platform {
namespace {

bool is_c_locale_name(std::string_view name) {
  return name.empty() || name == "C" || name == "POSIX" || name.starts_with("C.");
}

// One category at a time, so that a missing locale in one leaves the other its own settings.
// `read` gets the loaded locale and whether the category is C or POSIX; a category that cannot be
// loaded keeps the defaults.
template <class Read>
void with_user_category(int mask, int category, Read read) {
  locale_t loc = newlocale(mask, "", static_cast<locale_t>(nullptr));
  if (loc == static_cast<locale_t>(nullptr)) return;
  read(loc, is_c_locale_name(nl_langinfo_l(_NL_LOCALE_NAME(category), loc)));
  freelocale(loc);
}

}  // namespace

LocaleSettings read_user_locale() {
  LocaleSettings settings;
  with_user_category(LC_NUMERIC_MASK, LC_NUMERIC, [&](locale_t loc, bool is_c) {
    settings.number = number_settings_from(nl_langinfo_l(RADIXCHAR, loc), nl_langinfo_l(THOUSEP, loc), is_c);
  });
  with_user_category(LC_TIME_MASK, LC_TIME, [&](locale_t loc, bool is_c) {
    settings.date.order = date_order_from(nl_langinfo_l(D_FMT, loc), is_c);
  });
  return settings;
}

}  // namespace ovik::platform
