#include "platform/system_info.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <limits>

namespace ovik::platform {

namespace {

// Small pseudo-files only (/proc, /run): read whole, nothing on any failure.
std::optional<std::string> read_small_file(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  std::string text;
  char buffer[4096];
  bool ok = true;
  for (;;) {
    ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n > 0) {
      text.append(buffer, static_cast<std::size_t>(n));
      if (text.size() > (1u << 20)) break;  // no file we read is this large; stop rather than grow
    } else if (n == 0) {
      break;
    } else if (errno != EINTR) {
      ok = false;
      break;
    }
  }
  ::close(fd);
  if (!ok) return std::nullopt;
  return text;
}

std::string_view trim(std::string_view text) {
  const char* blanks = " \t\r\n";
  std::size_t first = text.find_first_not_of(blanks);
  if (first == std::string_view::npos) return {};
  std::size_t last = text.find_last_not_of(blanks);
  return text.substr(first, last - first + 1);
}

std::optional<std::uint32_t> parse_u32(std::string_view text) {
  std::uint32_t value = 0;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || text.empty()) return std::nullopt;
  return value;
}

bool is_ip_address(const std::string& text) {
  in6_addr buffer{};
  return ::inet_pton(AF_INET, text.c_str(), &buffer) == 1 ||
         ::inet_pton(AF_INET6, text.c_str(), &buffer) == 1;
}

std::vector<std::string> live_environment() {
  std::vector<std::string> entries;
  for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) entries.emplace_back(*entry);
  return entries;
}

std::vector<std::string> environment_of(std::uint32_t pid) {
  // Our own environment as it stands now; another process's as it was started.
  if (pid == static_cast<std::uint32_t>(::getpid())) return live_environment();
  auto text = read_small_file("/proc/" + std::to_string(pid) + "/environ");
  return text ? session::split_environ(*text) : std::vector<std::string>{};
}

session::RemoteSession remote_session_of(std::uint32_t pid) {
  const std::string proc = "/proc/" + std::to_string(pid);
  std::optional<std::string> name;
  if (auto cgroup = read_small_file(proc + "/cgroup")) name = session::logind_session_name(*cgroup);
  std::optional<std::uint32_t> audit;
  if (auto text = read_small_file(proc + "/sessionid")) audit = session::audit_session_id(*text);
  // Without a cgroup session (older logind, no unified hierarchy) logind may still have named
  // the session after the audit id.
  std::optional<std::string> file_name = name;
  if (!file_name && audit) file_name = std::to_string(*audit);
  std::optional<session::LogindSession> logind;
  if (file_name) {
    if (auto text = read_small_file("/run/systemd/sessions/" + *file_name)) {
      logind = session::parse_logind_session(*text);
    }
  }
  return session::classify(name, audit, logind, session::ssh_client_address(environment_of(pid)));
}

}  // namespace

namespace session {

std::optional<std::string> logind_session_name(std::string_view cgroup_text) {
  constexpr std::string_view prefix = "session-";
  constexpr std::string_view suffix = ".scope";
  std::size_t position = 0;
  while (position < cgroup_text.size()) {
    std::size_t end = cgroup_text.find_first_of("/\n:", position);
    if (end == std::string_view::npos) end = cgroup_text.size();
    std::string_view component = cgroup_text.substr(position, end - position);
    position = end + 1;
    if (component.size() <= prefix.size() + suffix.size() || !component.starts_with(prefix) ||
        !component.ends_with(suffix)) {
      continue;
    }
    std::string_view name = component.substr(prefix.size(), component.size() - prefix.size() - suffix.size());
    // The name becomes a file name under /run: letters, digits and "_" only.
    bool plain = true;
    for (char c : name) {
      bool alnum = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_';
      plain = plain && alnum;
    }
    if (plain) return std::string(name);
  }
  return std::nullopt;
}

std::optional<std::uint32_t> audit_session_id(std::string_view sessionid_text) {
  auto value = parse_u32(trim(sessionid_text));
  if (!value || *value == 0 || *value == std::numeric_limits<std::uint32_t>::max()) return std::nullopt;
  return value;
}

LogindSession parse_logind_session(std::string_view file_text) {
  LogindSession result;
  std::size_t position = 0;
  while (position < file_text.size()) {
    std::size_t end = file_text.find('\n', position);
    if (end == std::string_view::npos) end = file_text.size();
    std::string_view line = file_text.substr(position, end - position);
    position = end + 1;
    std::size_t equals = line.find('=');
    if (equals == std::string_view::npos) continue;
    std::string_view key = trim(line.substr(0, equals));
    std::string_view value = trim(line.substr(equals + 1));
    if (key == "REMOTE") {
      result.remote = value == "1";
    } else if (key == "REMOTE_HOST") {
      result.remote_host = std::string(value);
    }
  }
  return result;
}

std::optional<std::string> ssh_client_address(const std::vector<std::string>& environment) {
  for (std::string_view variable : {"SSH_CONNECTION=", "SSH_CLIENT="}) {
    for (const std::string& entry : environment) {
      if (!std::string_view(entry).starts_with(variable)) continue;
      std::string_view value = trim(std::string_view(entry).substr(variable.size()));
      std::string address(value.substr(0, value.find_first_of(" \t")));
      if (is_ip_address(address)) return address;
    }
  }
  return std::nullopt;
}

std::vector<std::string> split_environ(std::string_view environ_text) {
  std::vector<std::string> entries;
  std::size_t position = 0;
  while (position < environ_text.size()) {
    std::size_t end = environ_text.find('\0', position);
    if (end == std::string_view::npos) end = environ_text.size();
    if (end > position) entries.emplace_back(environ_text.substr(position, end - position));
    position = end + 1;
  }
  return entries;
}

RemoteSession classify(const std::optional<std::string>& logind_name,
                       const std::optional<std::uint32_t>& audit_id,
                       const std::optional<LogindSession>& logind,
                       const std::optional<std::string>& ssh_address) {
  auto nonzero_id = [&]() -> std::uint32_t {
    if (logind_name) {
      if (auto number = parse_u32(*logind_name); number && *number != 0) return *number;
    }
    return audit_id.value_or(1);
  };
  RemoteSession result;
  if (logind && logind->remote) {
    result.id = nonzero_id();
    if (!logind->remote_host.empty()) {
      result.peer = logind->remote_host;
    } else {
      result.peer = ssh_address;
    }
  } else if (ssh_address) {
    result.id = nonzero_id();
    result.peer = ssh_address;
  }
  return result;
}

}  // namespace session

std::string SystemInfo::user_name() {
  const uid_t uid = ::geteuid();
  // The user database is read once per user and thread: every log object asks, and a lookup reads
  // the whole passwd file. A name that could not be read is asked for again next time.
  thread_local uid_t remembered_uid = 0;
  thread_local std::string remembered;
  if (!remembered.empty() && remembered_uid == uid) return remembered;
  long suggested = ::sysconf(_SC_GETPW_R_SIZE_MAX);
  std::size_t size = suggested > 0 ? static_cast<std::size_t>(suggested) : 1024;
  // Entries with long member lists outgrow the suggested size; grow to a sane limit.
  while (size <= (1u << 20)) {
    std::string buffer(size, '\0');
    passwd entry{};
    passwd* found = nullptr;
    int error = ::getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found);
    if (error == ERANGE) {
      size *= 2;
      continue;
    }
    if (error != 0 || found == nullptr || found->pw_name == nullptr) return {};
    remembered_uid = uid;
    remembered = found->pw_name;
    return remembered;
  }
  return {};
}

std::string SystemInfo::computer_name() {
  char buffer[256] = {};
  if (::gethostname(buffer, sizeof buffer - 1) != 0) return {};
  return std::string(buffer);  // the spare last byte keeps a NUL in place
}

std::uint32_t SystemInfo::process_id() { return static_cast<std::uint32_t>(::getpid()); }

std::uint32_t SystemInfo::session_id(std::uint32_t pid) {
  if (pid == 0) return 0;
  return remote_session_of(pid).id;
}

std::optional<std::string> SystemInfo::remote_peer_address() {
  return remote_session_of(static_cast<std::uint32_t>(::getpid())).peer;
}

template <>
SystemInfo& Facility<SystemInfo>::real() {
  static SystemInfo instance;
  return instance;
}

}  // namespace ovik::platform
