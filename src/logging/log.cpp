#include "logging/log.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>

#include "database/access/objects/connection.h"
#include "database/access/secrets.h"
#include "ovik/component.h"
#include "ovik/describe.h"
#include "platform/clock.h"
#include "platform/codepage.h"
#include "platform/file_system.h"
#include "platform/module_info.h"
#include "platform/path_separator.h"
#include "platform/system_info.h"
#include "platform/user_interface.h"

namespace ovik {

namespace pl = ovik::platform;

namespace {

// Zero-padded decimal digits; formatting without printf keeps an entry cheap.
std::string& append_digits(std::string& out, int value, int width) {
  char digits[12];
  int n = 0;
  unsigned v = value < 0 ? 0u : static_cast<unsigned>(value);
  do {
    digits[n++] = static_cast<char>('0' + v % 10);
    v /= 10;
  } while (v != 0 && n < 11);
  for (int i = n; i < width; ++i) out += '0';
  while (n > 0) out += digits[--n];
  return out;
}

std::string two(int n) {
  std::string out;
  return append_digits(out, n % 100, 2);
}


// The name part of a log file comes from caller input (the application name) and the user name:
// a separator must not lead the file out of the log folder, and a control character (C0, DEL, or
// a C1 control in UTF-8) must not make a name that a listing or a shell shows as something else.
std::string safe_file_name(const std::string& name) {
  std::string out;
  out.reserve(name.size());
  for (std::size_t i = 0; i < name.size(); ++i) {
    const auto c = static_cast<unsigned char>(name[i]);
    if (c == 0xC2 && i + 1 < name.size() && static_cast<unsigned char>(name[i + 1]) >= 0x80 &&
        static_cast<unsigned char>(name[i + 1]) <= 0x9F) {
      out += '_';
      ++i;
    } else {
      out += c < 0x20 || c == 0x7F || pl::breaks_file_name(name[i]) ? '_' : name[i];
    }
  }
  return out;
}

// A field of a log line: CR and LF each become a space, so no field can forge a line, and so does
// NUL, which would make grep take the whole file for binary. TAB becomes a space too, except in
// the title, which keeps its TABs as the file's readers expect (such a line has more than six
// fields).
enum class Tabs { kSpace, kKeep };
void append_field(std::string& line, const std::string& value, Tabs tabs = Tabs::kSpace) {
  const std::size_t start = line.size();
  line.append(value);
  for (std::size_t i = start; i < line.size(); ++i)
    if (line[i] == '\r' || line[i] == '\n' || line[i] == '\0' || (line[i] == '\t' && tabs == Tabs::kSpace))
      line[i] = ' ';
}

std::string nul_as_space(std::string text) {
  std::replace(text.begin(), text.end(), '\0', ' ');
  return text;
}

}  // namespace

clsLog::clsLog() {
  m_LogonUserName = pl::Facility<pl::SystemInfo>::get().user_name();
  m_ProcessID = static_cast<std::int32_t>(pl::Facility<pl::UserInterface>::get().focused_window_process_id());
  const pl::ModuleInfo module = pl::Facility<pl::ModulePath>::get().module();
  m_AppName = module.base_name;
  module_base_name_ = module.base_name;
  m_LogFolder = module.folder;
  if (!m_LogFolder.ends_with(pl::path_separator())) m_LogFolder += pl::path_separator();
  m_LogFolder += "log";
  m_IsConnected = false;
  DelLog(30);
}

clsLog::~clsLog() {
  try {
    if (m_cnLog && m_cnLog->get_State() == ado::adStateOpen) m_cnLog->Close();
  } catch (...) {
    // End steps report nothing to anyone.
  }
}

int clsLog::seconds_left() const {
  // Whole seconds, rounded down: the steps' own time-outs then never add up to more than the budget.
  const auto left = std::chrono::duration_cast<std::chrono::seconds>(kDatabaseWaitBudget - waited_).count();
  return left > 0 ? static_cast<int>(left) : 0;
}

void clsLog::put_ServerConnectionString(std::string value) {
  try {
    if (m_cnLog) {
      if (m_cnLog->get_State() == ado::adStateOpen) m_cnLog->Close();
      m_cnLog.reset();
    }
    // A new connection starts the budget of the entry it is made for.
    waited_ = {};
    m_cnLog = new_connection();
    m_cnLog->put_ConnectionString(value);
    m_cnLog->put_ConnectionTimeout(seconds_left());
    {
      Charge charge(*this);
      m_cnLog->Open("", "", "", ado::adOptionUnspecified);
    }
    auto* connection = dynamic_cast<access::Connection*>(m_cnLog.get());
    // The connection's own command time-out bounds a statement that runs; what the budget bounds is
    // the wait for a lock that another session holds, set before each statement.
    dialect_ =
        log_dialect(connection != nullptr ? connection->dbms_name() : std::string(), m_cnLog->get_Provider());
    m_IsConnected = true;
    DelLog(30);
  } catch (const std::exception& e) {
    m_IsConnected = false;
    std::string title = "ServerConnectionString";
    // The failure may repeat the connection string or its target: its passwords are hidden.
    std::string text = access::secrets_of(value).redact(e.what());
    PutLog(title, text);
    m_cnLog.reset();
  }
}

void clsLog::PutLog(std::string& strTitle, std::string& strComment) { put_entry(strTitle, strComment); }

void clsLog::put_entry(const std::string& strTitle, const std::string& strComment) {
  std::string file_name;
  bool stored = false;
  std::string reason;  // why a connected log sends the entry to the file
  try {
    const pl::CivilNow now = pl::Facility<pl::Clock>::get().local_now();
    file_name = safe_file_name(m_AppName + two(now.year) + two(now.month) + two(now.day) + "-" + m_LogonUserName +
                               ".LOG");
    // With the budget spent the entry goes to the file at once, as after a failed insert.
    if (const int seconds = seconds_left(); m_IsConnected && seconds > 0) {
      // A NUL would end the statement's text where the driver reads it, and the entry with it.
      const std::string sql = log_insert_statement(dialect_, m_ProcessID, m_LogonUserName, m_AppName,
                                                   nul_as_space(strTitle), nul_as_space(strComment));
      bound_lock_wait(seconds);
      Variant affected;
      {
        Charge charge(*this);
        m_cnLog->Execute(sql, affected, ado::adOptionUnspecified);
      }
      if (Ref<Errors> errors = m_cnLog->get_Errors(); errors->get_Count() != 0) {
        m_IsConnected = false;
        reason = errors->get_Item(Variant(std::int32_t{0}))->get_Description();
      }
      stored = m_IsConnected;
    } else if (m_IsConnected) {
      reason = "The entry's " + std::to_string(kDatabaseWaitBudget.count()) +
               " seconds for the log database were spent before its insert";
    }
  } catch (const std::exception& e) {
    // The entry goes to the file instead; the state stays, so the next entry tries the table again.
    reason = e.what();
  } catch (...) {
  }
  // The entry is done: the next one waits afresh.
  waited_ = {};
  if (stored || file_name.empty()) return;
  // The line before the entry says why it is not in the table.
  if (!reason.empty()) WriteLogFile(m_LogFolder, file_name, "PutLog", reason);
  WriteLogFile(m_LogFolder, file_name, strTitle, strComment);
}

void clsLog::bound_lock_wait(int seconds) {
  if (auto* connection = dynamic_cast<access::Connection*>(m_cnLog.get()))
    connection->set_lock_timeout(seconds);
}

void clsLog::WriteLogFile(const std::string& folder, const std::string& file_name, const std::string& title,
                          const std::string& text) {
  try {
    pl::FileSystem& fs = pl::Facility<pl::FileSystem>::get();
    const pl::CivilNow now = pl::Facility<pl::Clock>::get().local_now();
    std::string line;
    line.reserve(64 + m_LogonUserName.size() + m_AppName.size() + title.size() + text.size());
    append_digits(line, now.year, 4).append(1, '/');
    append_digits(line, now.month, 2).append(1, '/');
    append_digits(line, now.day, 2).append(1, ' ');
    append_digits(line, now.hour, 2).append(1, ':');
    append_digits(line, now.minute, 2).append(1, ':');
    append_digits(line, now.second, 2).append(1, '\t');
    line.append(std::to_string(m_ProcessID)).append(1, '\t');
    append_field(line, m_LogonUserName);
    line.append(1, '\t');
    append_field(line, m_AppName);
    line.append(1, '\t');
    append_field(line, title, Tabs::kKeep);
    line.append(1, '\t');
    append_field(line, text);
    line.append("\r\n");
    const std::string bytes = pl::to_narrow(line);
    const std::string path = folder + pl::path_separator() + file_name;
    // The folder is nearly always there: try the append first and see to the folder only when the
    // try found it missing. Another process may have made it since, so whether this one made it
    // or not, once it is there the entry is tried again. Any other failure loses the entry.
    if (fs.append_line(path, bytes)) return;
    if (errno != ENOENT || !fs.create_directory(folder)) return;
    fs.append_line(path, bytes);
  } catch (...) {
    // A log entry that cannot be written is lost without a word: logging never fails its caller.
  }
}

const TypeInfo& clsLog::type_info() {
  static const TypeInfo info = [] {
    TypeInfo t = class_info<_clsLog>("clsLog", Guid::of("49F87A91-03E3-4C76-A1ED-5EC5B0DEE108"), Instancing::Internal, 8);
    Describe<_clsLog>(t)
        .get("AppName", &_clsLog::get_AppName)
        .put("AppName", &_clsLog::put_AppName, {"RHS"})
        .put("ServerConnectionString", &_clsLog::put_ServerConnectionString, {"RHS"})
        .method("PutLog", &_clsLog::PutLog, {"strTitle", "strComment"})
        .method("DelLog", &_clsLog::DelLog, {"intKeepDays"});
    return t;
  }();
  return info;
}

namespace {
const ClassRegistration kRegistration(&clsLog::type_info);
}  // namespace

}  // namespace ovik
