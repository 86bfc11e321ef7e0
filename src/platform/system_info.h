// User, process and login-session information of the calling process.
//
// SystemInfo is a facility (see facility.h): Facility<SystemInfo>::get() answers from the real
// implementation of the platform unless a test has installed a fake. Every virtual member of the
// base class is that real implementation, so a fake overrides only what it needs to change.
//
// No member throws or reports an error: each answers with the documented neutral value ("" or 0,
// or no value) when the operating system cannot tell. Nothing is cached, nothing is changed
// process-wide; any thread may call.
//
// On Linux a process is in a remote login session when systemd-logind says its session is remote,
// or, failing that, when the process carries the SSH connection of its login session in its
// environment (SSH_CONNECTION or SSH_CLIENT). The pure functions of `session` below do the
// parsing, so that the decision can be checked against given file contents and environments; only
// the Linux side defines them.
//
// On Windows the answers are the system's own: GetUserNameW, GetComputerNameW (the NetBIOS name),
// GetCurrentProcessId, ProcessIdToSessionId (every desktop session but the services' session 0 is
// nonzero, the console's among them), and the client address the terminal services report for the
// process's own session (WTSClientAddress; none for a console session).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ovik/export.h"
#include "platform/facility.h"

namespace ovik::platform {

class OVIK_API SystemInfo {
 public:
  virtual ~SystemInfo() = default;

  // The effective user's login name; "" when it cannot be read.
  virtual std::string user_name();
  // The host name as gethostname gives it (Windows: the computer name), up to its first NUL; ""
  // when it fails.
  virtual std::string computer_name();
  virtual std::uint32_t process_id();
  // Linux: nonzero only when process `pid` runs in a remote login session; 0 for a local console
  // or desktop session and whenever nothing can be found out. Windows: the process's terminal
  // session id; 0 for the services' session and whenever the call fails.
  virtual std::uint32_t session_id(std::uint32_t pid);
  // The client address of the current process's remote login session (logind's remote host,
  // or the client field of the SSH connection; on Windows the terminal client's address); no
  // value outside a remote session.
  virtual std::optional<std::string> remote_peer_address();
};

namespace session {

// The logind session name ("3", "c1") from the text of /proc/<pid>/cgroup, taken from the first
// path component of the form "session-<name>.scope".
std::optional<std::string> logind_session_name(std::string_view cgroup_text);

// The audit session id from the text of /proc/<pid>/sessionid; none when unset (4294967295),
// zero or unreadable.
std::optional<std::uint32_t> audit_session_id(std::string_view sessionid_text);

// What logind's session file (/run/systemd/sessions/<name>) says about remoteness.
struct LogindSession {
  bool remote = false;
  std::string remote_host;  // empty when the file names none
};
LogindSession parse_logind_session(std::string_view file_text);

// The client address of the SSH connection in an environment ("NAME=value" entries):
// SSH_CONNECTION first, then SSH_CLIENT, each "address port ...". Only a well-formed IPv4 or
// IPv6 address is taken, so stray text never passes for an address.
std::optional<std::string> ssh_client_address(const std::vector<std::string>& environment);

// Splits the NUL-separated text of /proc/<pid>/environ into its entries.
std::vector<std::string> split_environ(std::string_view environ_text);

struct RemoteSession {
  std::uint32_t id = 0;             // 0: not a remote session
  std::optional<std::string> peer;  // the client address, when known
};

// The decision itself, from the facts gathered about one process. `logind` is absent when
// logind keeps no file for the session (or there is no session). A remote session gets the
// logind session number when the name is numeric, else the audit session id, else 1.
RemoteSession classify(const std::optional<std::string>& logind_name,
                       const std::optional<std::uint32_t>& audit_id,
                       const std::optional<LogindSession>& logind,
                       const std::optional<std::string>& ssh_address);

}  // namespace session

}  // namespace ovik::platform
