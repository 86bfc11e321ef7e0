#include "database/transaction_log.h"

#include <cstdio>

#include "database/access/secrets.h"
#include "platform/clock.h"
#include "platform/codepage.h"
#include "platform/file_system.h"
#include "platform/module_info.h"
#include "platform/path_separator.h"
#include "platform/user_interface.h"

namespace ovik::trace {

namespace pl = ovik::platform;

namespace {

std::string repeat(std::string_view piece, int times) {
  std::string out;
  for (int i = 0; i < times; ++i) out += piece;
  return out;
}

std::string two(int n) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "%02d", n);
  return buf;
}

}  // namespace

std::string heavy_rule() { return "--" + repeat("━", 100); }
std::string connect_line(std::string_view connection_string) {
  return "-- Connected To [" + access::mask_connection_string(connection_string) + "]";
}
std::string disconnect_line() { return "-- Disconnected"; }
std::string begin_line() { return "Begin Transaction    " + repeat("-", 100); }
std::string commit_line() { return "Commit Transaction   " + repeat("-", 100); }
std::string rollback_line() { return "Rollback Transaction " + repeat("-", 100); }
std::string failed_rollback_line() { return "Rollback Transaction   " + repeat("-", 100); }
std::string error_line(std::string_view description) { return "  →error!! " + std::string(description); }

std::string traced_text(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
      out += ' ';
      ++i;
    } else if (text[i] == '\r' || text[i] == '\n' || text[i] == '\0') {
      out += ' ';
    } else {
      out += text[i];
    }
  }
  std::size_t first = out.find_first_not_of(' ');
  if (first == std::string::npos) return {};
  std::size_t last = out.find_last_not_of(' ');
  return out.substr(first, last - first + 1);
}

std::string sent_statement(std::string_view source) {
  const std::size_t nul = source.find('\0');
  if (nul == std::string_view::npos) return std::string(source);
  std::string sent(source.substr(0, nul));
  if (source.find_first_not_of('\0', nul) != std::string_view::npos) sent += kNotSentMarker;
  return sent;
}

std::string form_field(const std::optional<std::string>& name) {
  std::string out;
  std::size_t characters = 0;
  if (name) {
    for (std::size_t i = 0; i < name->size() && characters < 15;) {
      std::size_t len = 1;
      while (i + len < name->size() && (static_cast<unsigned char>((*name)[i + len]) & 0xC0) == 0x80) ++len;
      out.append(*name, i, len);
      i += len;
      ++characters;
    }
  }
  out.append(15 - characters, ' ');
  return out;
}

void put(std::string_view text, bool& purge_done) {
  try {
    pl::FileSystem& fs = pl::Facility<pl::FileSystem>::get();
    const pl::ModuleInfo module = pl::Facility<pl::ModulePath>::get().module();
    std::string folder = module.folder;
    if (!folder.ends_with(pl::path_separator())) folder += pl::path_separator();
    folder += "transaction_log";
    const std::string traced = traced_text(text);
    if (!fs.exists(folder) && !fs.create_directory(folder)) return;
    if (!purge_done) {
      // Same local time of day, 30 calendar days back (not 30 x 24 hours: a change of summer time
      // lies between). A file that cannot be deleted neither keeps the ones after it nor costs
      // this line: one old file out of reach would otherwise silence the trace of every object for
      // good. The flag stays down, so the next line tries again.
      if (auto names = fs.list_files(folder)) {
        const std::int64_t now_unix = (pl::Facility<pl::Clock>::get().system_time_as_file_time() -
                                       pl::kFileTimeOfUnixEpoch) / 10'000'000;
        // Without a limit no file is old enough to go; the flag stays down for the next line.
        const std::optional<std::int64_t> limit = pl::local_days_before(now_unix, 30);
        bool all_deleted = limit.has_value();
        for (std::size_t i = 0; limit && i < names->size(); ++i) {
          const std::string path = folder + pl::path_separator() + (*names)[i];
          auto modified = fs.last_write_time_unix(path);
          if (modified && *modified <= *limit && !fs.remove_file(path)) all_deleted = false;
        }
        purge_done = all_deleted;
      }
    }
    pl::Clock& clock = pl::Facility<pl::Clock>::get();
    const pl::CivilNow day = clock.local_now();
    const std::string file = folder + pl::path_separator() + std::to_string(day.year) + "_" + two(day.month) +
                             "_" + two(day.day) + "(" + module.base_name + ").log";
    std::optional<std::string> form;
    try {
      form = pl::Facility<pl::UserInterface>::get().active_form_type_name();
    } catch (...) {
    }
    const pl::CivilNow now = clock.local_now();
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "%04d/%02d/%02d %02d:%02d:%02d", now.year, now.month, now.day, now.hour,
                  now.minute, now.second);
    const std::string line =
        "/* " + std::string(stamp) + "  active form : " + form_field(form) + "*/  " + traced + "\r\n";
    fs.append_line(file, pl::to_narrow(line));
  } catch (...) {
    // A trace line that cannot be written is lost; the traced operation goes on.
  }
}

}  // namespace ovik::trace
