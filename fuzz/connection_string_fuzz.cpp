// Connection strings from Connect to the trace file. Any text a caller hands to Connect (and any
// data-link file it names) is read without crash or hang, and no password that a reader on the
// way to the server finds shows in a traced line, in ErrorMsg or in a raised description.
//
// The passwords are taken independently of the mask: the items of the connecting parser (also
// after a data-link file is laid under them), and the items of the ODBC string that each server
// provider builds from them, read both the way the driver manager reads it and the way a driver
// splits it at ";" (braces spanning it). A password shorter than four bytes need only be hidden
// where it stands alone; one made of at most eight "*" is the mask itself.
//
// Input: one flag byte, then the text.
//   bit 0: the text begins with a data-link file (two bytes of length, low first, then its
//          bytes), the rest is the connection string; "@LINK@" in the string names that file. Without it, a
//          string that names any file is skipped, so that the fuzzer never reads what lies on the machine.
//   bit 1: connect by data-link file (ConnectByUdlFile) instead of the string (with bit 0).
//   bit 2: no ODBC drivers installed (the server providers then fail, naming the provider).
//   bit 3: the connection fails with the error the real connection would report, if any.
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "database/access/connection_string.h"
#include "database/access/driver.h"
#include "database/access/odbc/odbc_driver.h"
#include "database/access/secrets.h"
#include "database/database.h"
#include "database/fake_connection.h"
#include "ovik/error.h"
#include "platform/ascii.h"
#include "platform/codepage.h"
#include "platform/file_system.h"
#include "platform/module_info.h"

namespace {

using ovik::access::ConnectionString;
using ovik::access::DriverError;

void check(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
  }
}

// The trace file's lines, kept in memory.
class CapturingFileSystem final : public ovik::platform::FileSystem {
 public:
  bool exists(const std::string&) override { return true; }
  bool create_directory(const std::string&) override { return true; }
  bool append_line(const std::string&, std::string_view bytes) override {
    lines.emplace_back(bytes);
    return true;
  }
  std::optional<std::vector<std::string>> list_files(const std::string&) override {
    return std::vector<std::string>{};
  }
  bool remove_file(const std::string&) override { return false; }
  std::optional<std::int64_t> last_write_time_unix(const std::string&) override { return std::nullopt; }
  std::vector<std::string> lines;
};

class FixedModule final : public ovik::platform::ModulePath {
 public:
  ovik::platform::ModuleInfo module() override { return {"/fuzz-module", "Ovik2Environment"}; }
};

std::string link_path;

void remove_link_folder() {
  std::remove(link_path.c_str());
  rmdir(link_path.substr(0, link_path.rfind('/')).c_str());
}

bool is_secret_key(std::string_view key) {
  constexpr std::string_view kPassword = "password";
  return ovik::platform::ascii_iequals(key, "pwd") ||
         (key.size() >= kPassword.size() &&
          ovik::platform::ascii_iequals(key.substr(key.size() - kPassword.size()), kPassword));
}

std::string_view trimmed(std::string_view s) {
  const auto first = s.find_first_not_of(" \t\r\n");
  if (first == std::string_view::npos) return {};
  return s.substr(first, s.find_last_not_of(" \t\r\n") - first + 1);
}

struct Passwords {
  std::vector<std::string> values;
  void take(std::string_view key, std::string_view value) {
    if (is_secret_key(trimmed(key)) && !value.empty()) values.emplace_back(value);
  }
  void take(const std::vector<std::pair<std::string, std::string>>& items) {
    for (const auto& [key, value] : items) take(key, value);
  }
};

// A braced value from just after "{": up to the "}" that is not doubled, "}}" read as "}".
std::string braced_value(std::string_view s, std::size_t& pos) {
  std::string value;
  while (pos < s.size()) {
    if (s[pos] == '}') {
      if (pos + 1 < s.size() && s[pos + 1] == '}') {
        value.push_back('}');
        pos += 2;
        continue;
      }
      ++pos;
      break;
    }
    value.push_back(s[pos++]);
  }
  return value;
}

// The driver manager's reading: blanks and ";" skipped before a key, the key runs to "=" (past
// any ";"), the value is braced or runs to ";".
void read_as_driver_manager(std::string_view s, Passwords& out) {
  s = s.substr(0, s.find('\0'));
  std::size_t pos = 0;
  for (;;) {
    while (pos < s.size() && (s[pos] == ';' || s[pos] == ' ' || s[pos] == '\t' || s[pos] == '\r' ||
                              s[pos] == '\n' || s[pos] == '\f' || s[pos] == '\v'))
      ++pos;
    const std::size_t equals = s.find('=', pos);
    if (pos >= s.size() || equals == std::string_view::npos) return;
    const std::string_view key = s.substr(pos, equals - pos);
    pos = equals + 1;
    if (pos < s.size() && s[pos] == '{') {
      ++pos;
      out.take(key, braced_value(s, pos));
    } else {
      const std::size_t end = std::min(s.find(';', pos), s.size());
      out.take(key, s.substr(pos, end - pos));
      pos = end;
    }
  }
}

// A driver's reading: the string split at ";", the key up to the item's first "=", a braced value
// running on past ";" to its closing brace.
void read_as_driver(std::string_view s, Passwords& out) {
  s = s.substr(0, s.find('\0'));
  std::size_t pos = 0;
  while (pos < s.size()) {
    const std::size_t item_end = std::min(s.find(';', pos), s.size());
    const std::size_t equals = s.find('=', pos);
    if (equals == std::string_view::npos || equals > item_end) {
      pos = item_end + 1;
      continue;
    }
    const std::string_view key = s.substr(pos, equals - pos);
    pos = equals + 1;
    if (pos < s.size() && s[pos] == '{') {
      ++pos;
      out.take(key, braced_value(s, pos));
      pos = std::min(s.find(';', pos), s.size()) + 1;
    } else {
      out.take(key, s.substr(pos, item_end - pos));
      pos = item_end + 1;
    }
  }
}

const std::vector<std::string> kAllDrivers = {"FreeTDS", "Oracle 21 ODBC driver", "MDBTools",
                                              "PostgreSQL Unicode"};

// Every password a parser between Connect and the server reads, and the error the connection
// would report (empty when it would connect).
std::string collect(std::string_view text, bool udl, bool drivers_installed, Passwords& out) {
  const std::vector<std::string> none;
  try {
    const ConnectionString given =
        udl ? ConnectionString::parse("File Name=" + std::string(text)) : ConnectionString::parse(text);
    out.take(given.items());
    const ConnectionString resolved = ovik::access::resolve_data_link(given);
    out.take(resolved.items());
    std::string failure;
    for (const char* provider : {"", "SQLOLEDB", "MSDASQL", "OraOLEDB.Oracle", "Microsoft.Jet.OLEDB.4.0"}) {
      ConnectionString as = resolved;
      if (*provider != '\0') as.set("Provider", provider);
      const auto kind = ovik::access::classify_provider(as.get("Provider"));
      if (kind == ovik::access::ProviderKind::kSqlite || kind == ovik::access::ProviderKind::kUnknown)
        continue;
      try {
        const std::string odbc =
            ovik::access::odbc_connection_string(as, drivers_installed ? kAllDrivers : none);
        read_as_driver_manager(odbc, out);
        read_as_driver(odbc, out);
      } catch (const DriverError& e) {
        if (*provider == '\0') failure = e.diagnostics().front().message;
      }
    }
    if (failure.empty()) (void)ovik::access::make_driver(resolved);
    return failure;
  } catch (const DriverError& e) {
    // What the parser read before it stopped is as good as written out.
    for (const auto& item : ovik::access::scan_connection_string(text).items) out.take(item.key, item.value);
    return e.diagnostics().front().message;
  }
}

// As the mask decides where a short password stands alone. A "?" in a line may be a character
// that the narrow code page could not hold, which the mask saw as part of a word.
bool word_byte(char c) {
  const auto b = static_cast<unsigned char>(c);
  return b >= 0x80 || c == '_' || c == '?' || (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') ||
         (c >= 'A' && c <= 'Z');
}

bool shows(std::string_view text, std::string_view secret) {
  if (secret.size() >= ovik::access::kShortSecret) return text.find(secret) != std::string_view::npos;
  for (std::size_t at = text.find(secret); at != std::string_view::npos; at = text.find(secret, at + 1)) {
    const std::size_t end = at + secret.size();
    if ((at == 0 || !word_byte(text[at - 1])) && (end == text.size() || !word_byte(text[end]))) return true;
  }
  return false;
}

std::string doubled(std::string_view text, char c) {
  std::string out;
  for (const char ch : text) {
    if (ch == c) out.push_back(c);
    out.push_back(ch);
  }
  return out;
}

// `lossy`: the text went through the narrow code page, which wrote "?" for what it could not
// hold; a password with a "?" may then seem to show where other text was.
void check_hidden(std::string_view text, const Passwords& passwords, const char* where, bool lossy) {
  for (const std::string& p : passwords.values) {
    if (p.size() <= ovik::access::kMask.size() && p.find_first_not_of('*') == std::string::npos) continue;
    // As written, and as a quoted or braced string writes it.
    for (const std::string& form : {p, doubled(p, '"'), doubled(p, '\''), doubled(p, '}')}) {
      const bool ascii = std::all_of(form.begin(), form.end(), [](char c) { return (c & 0x80) == 0; });
      const std::string narrow = lossy && !ascii ? ovik::platform::to_narrow(form) : form;
      if (lossy && narrow.find('?') != std::string::npos) continue;
      if (shows(text, form) || shows(text, narrow)) {
        std::fprintf(stderr, "password [%s] shows in %s: [%.*s]\n", p.c_str(), where,
                     static_cast<int>(text.size()), text.data());
        std::abort();
      }
    }
  }
}

bool names_other_file(std::string_view text) {
  for (const auto& item : ovik::access::scan_connection_string(text).items) {
    if (ovik::platform::ascii_iequals(item.key, "File Name") && item.value != link_path) return true;
  }
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  char folder[] = "/tmp/ovik-fuzz-link.XXXXXX";
  if (mkdtemp(folder) == nullptr) std::abort();
  link_path = std::string(folder) + "/link.udl";
  std::atexit(remove_link_folder);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const unsigned flags = data[0];
  std::string_view rest(reinterpret_cast<const char*>(data) + 1, size - 1);
  const bool with_link = flags & 1, udl = with_link && (flags & 2), drivers_installed = !(flags & 4);

  std::string text;
  if (with_link) {
    // Two bytes (low first) give the file's length; UTF-16 files hold NULs of their own.
    const std::size_t declared =
        rest.size() >= 2 ? static_cast<unsigned char>(rest[0]) | static_cast<unsigned char>(rest[1]) << 8 : 0;
    rest.remove_prefix(std::min<std::size_t>(rest.size(), 2));
    const std::string_view link = rest.substr(0, declared);
    std::FILE* file = std::fopen(link_path.c_str(), "wb");
    if (file == nullptr) std::abort();
    std::fwrite(link.data(), 1, link.size(), file);
    std::fclose(file);
    text = rest.substr(link.size());
    for (std::size_t at = text.find("@LINK@"); at != std::string::npos;
         at = text.find("@LINK@", at + link_path.size()))
      text.replace(at, 6, link_path);
  } else {
    text = rest;
  }
  if (udl) text = link_path;
  if (!udl && names_other_file(text)) return 0;

  Passwords passwords;
  const std::string failure = collect(text, udl, drivers_installed, passwords);

  // The string's own round trip: what to_string writes parses back to the same items.
  if (!udl) {
    try {
      const ConnectionString parsed = ConnectionString::parse(text);
      check(ConnectionString::parse(parsed.to_string()).items() == parsed.items(), "to_string parses back");
    } catch (const DriverError&) {
    }
  }

  CapturingFileSystem files;
  ovik::platform::ScopedFake<ovik::platform::FileSystem> files_fake(files);
  FixedModule module;
  ovik::platform::ScopedFake<ovik::platform::ModulePath> module_fake(module);
  ovik::testing::FakeConnectionSource source;
  ovik::Ref<ovik::clsDatabase> db = ovik::make_object<ovik::clsDatabase>();
  db->put_TraceTransaction(true);
  // The connection is created inside Connect; the failure is scripted once it exists.
  struct FailingSource final : ovik::ConnectionSource {
    ovik::testing::FakeConnectionSource* inner;
    std::string failure;
    ovik::Ref<ovik::_Connection> create() override {
      ovik::Ref<ovik::_Connection> c = inner->create();
      if (!failure.empty()) {
        inner->last().open_failure =
            ovik::testing::Failure{{ovik::testing::fake_error(failure, "08001")}, -2147467259, failure};
      }
      return c;
    }
  } failing;
  failing.inner = &source;
  if (flags & 8) failing.failure = failure;
  ovik::platform::ScopedFake<ovik::ConnectionSource> failing_fake(failing);

  std::string raised;
  try {
    db->Connect(text, udl ? ovik::HowToConnectEnum::ConnectByUdlFile
                          : ovik::HowToConnectEnum::ConnectByConnectionString);
  } catch (const ovik::RaisedError& e) {
    raised = e.description();
  }
  check(!files.lines.empty(), "the connect is traced");
  const std::string narrow_text = ovik::platform::to_narrow(text);
  const bool lossy =
      std::count(narrow_text.begin(), narrow_text.end(), '?') != std::count(text.begin(), text.end(), '?');
  for (const std::string& line : files.lines) {
    // The time stamp and form field are the line's own; the traced text follows "*/  ".
    const std::size_t text_at = line.find("*/  ");
    check(text_at != std::string::npos, "a trace line has its comment");
    check_hidden(std::string_view(line).substr(text_at + 4), passwords, "a trace line", lossy);
  }
  check_hidden(db->get_ErrorMsg(), passwords, "ErrorMsg", false);
  check_hidden(raised, passwords, "a raised description", false);
  db->Disconnect();
  return 0;
}
