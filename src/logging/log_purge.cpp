// The purge of clsLog: rows of wkLog of the object's application, and the daily log files, dated
// before the cutoff (today minus the days to keep). Nothing here reports a failure.
#include <cstdio>
#include <optional>

#include "logging/log.h"
#include "platform/clock.h"
#include "platform/file_system.h"
#include "platform/path_separator.h"
#include "platform/locale_rules.h"

namespace ovik {

namespace pl = ovik::platform;

namespace {

// Today's local date minus `keep_days` calendar days; none when it cannot be computed (the
// negation of -32768 does not fit, or the date leaves the calendar), so nothing is deleted then.
std::optional<pl::CivilDateTime> cutoff_date(std::int16_t keep_days) {
  if (keep_days == -32768) return std::nullopt;
  const pl::CivilNow now = pl::Facility<pl::Clock>::get().local_now();
  pl::CivilDateTime today;
  today.year = now.year;
  today.month = now.month;
  today.day = now.day;
  double ole = 0;
  if (!pl::ole_from_civil(today, ole)) return std::nullopt;
  pl::CivilDateTime cutoff = pl::civil_from_ole(ole - keep_days);
  double check = 0;
  if (!pl::ole_from_civil(cutoff, check) || check != ole - keep_days) return std::nullopt;
  return cutoff;
}

// Zero-padded decimal digits of a date part (never negative here); every purge formats its cutoff,
// and printf costs more than the rest of a purge that finds nothing to do.
std::string digits(int value, int width) {
  std::string out(static_cast<std::size_t>(width), '0');
  unsigned v = value < 0 ? 0u : static_cast<unsigned>(value);
  for (std::size_t i = out.size(); i > 0 && v != 0; v /= 10) out[--i] = static_cast<char>('0' + v % 10);
  return out;
}

void erase_all(std::string& text, const std::string& part) {
  if (part.empty()) return;
  for (std::size_t at; (at = text.find(part)) != std::string::npos;) text.erase(at, part.size());
}

// The first `count` characters (code points) of UTF-8 text.
std::string first_characters(const std::string& text, std::size_t count) {
  std::size_t i = 0;
  for (std::size_t seen = 0; i < text.size() && seen < count; ++seen) {
    ++i;
    while (i < text.size() && (static_cast<unsigned char>(text[i]) & 0xC0) == 0x80) ++i;
  }
  return text.substr(0, i);
}

bool six_digits(const std::string& text) {
  if (text.size() != 6) return false;
  for (char c : text)
    if (c < '0' || c > '9') return false;
  return true;
}

// The last pass of this thread over a log folder that found nothing to delete. A pass decides by
// the names alone (with the library's base name and the cutoff), so while the folder holds the same
// names, nothing new can be deleted at that cutoff or an earlier one, and the listing is skipped.
// The names are the same while the folder's stamp is: an entry created, deleted or renamed moves its
// mtime, a change of its permissions its ctime. Every log object purges at its creation, and the
// environment object makes one per entry, so this saves a listing per entry.
struct QuietPass {
  std::string folder;
  std::string base_name;
  std::string cutoff;  // yymmdd
  pl::FolderStamp stamp;
};
thread_local std::optional<QuietPass> t_quiet_pass;

std::string yymmdd(const pl::CivilDateTime& date) {
  return digits(date.year % 100, 2) + digits(date.month, 2) + digits(date.day, 2);
}

}  // namespace

void clsLog::DelLog(std::int16_t intKeepDays) {
  try {
    if (m_IsConnected) {
      if (auto cutoff = cutoff_date(intKeepDays))
        delete_rows(digits(cutoff->year, 4) + digits(cutoff->month, 2) + digits(cutoff->day, 2));
    }
  } catch (...) {
    // The rows stay; the files are examined all the same.
  }
  try {
    delete_files(intKeepDays);
  } catch (...) {
  }
}

void clsLog::delete_rows(const std::string& cutoff_yyyymmdd) {
  // With the entry's budget spent the rows wait for the next entry's purge.
  const int seconds = seconds_left();
  if (seconds == 0) return;
  try {
    bound_lock_wait(seconds);
    Variant affected;
    Charge charge(*this);
    m_cnLog->Execute(log_purge_statement(dialect_, m_AppName, cutoff_yyyymmdd), affected,
                     ado::adOptionUnspecified);
  } catch (...) {
    // Its outcome is not looked at.
  }
}

void clsLog::delete_files(std::int16_t keep_days) {
  pl::FileSystem& fs = pl::Facility<pl::FileSystem>::get();
  const std::optional<pl::FolderStamp> before = fs.folder_stamp(m_LogFolder);
  if (!before) return;
  const auto first_cutoff = cutoff_date(keep_days);
  if (!first_cutoff) return;
  const std::string pass_cutoff = yymmdd(*first_cutoff);
  if (const auto& quiet = t_quiet_pass; quiet && quiet->folder == m_LogFolder &&
                                        quiet->base_name == module_base_name_ && pass_cutoff <= quiet->cutoff &&
                                        quiet->stamp.same_as(*before))
    return;

  auto names = fs.list_files(m_LogFolder);
  if (!names) return;
  bool quiet = true;  // nothing deleted or left that could be, at one cutoff all along
  for (const std::string& name : *names) {
    std::string stripped = name;
    erase_all(stripped, module_base_name_);
    erase_all(stripped, ".log");
    const std::string head = first_characters(stripped, 6);
    auto cutoff = cutoff_date(keep_days);
    if (!cutoff) return;
    const std::string cutoff_text = yymmdd(*cutoff);
    if (cutoff_text != pass_cutoff) quiet = false;
    // Only a name that starts with a date of the library's own form is ever deleted.
    if (six_digits(head) && head < cutoff_text) {
      fs.remove_file(m_LogFolder + pl::path_separator() + name);
      quiet = false;
    }
  }
  // Remembered only when the names cannot have changed unseen: the stamp was settled before the
  // listing and is the same after it.
  const std::optional<pl::FolderStamp> after = fs.folder_stamp(m_LogFolder);
  if (quiet && before->settled && after && after->same_as(*before))
    t_quiet_pass = QuietPass{m_LogFolder, module_base_name_, pass_cutoff, *before};
}

}  // namespace ovik
