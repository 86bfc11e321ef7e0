#include "platform/system_info.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace ovik::platform {
namespace {

using namespace std::string_literals;

TEST(SessionParsing, LogindSessionNameFromCgroup) {
  struct Case {
    std::string cgroup;
    std::optional<std::string> name;
  };
  const std::vector<Case> cases = {
      {"0::/user.slice/user-1000.slice/session-3.scope\n", "3"},
      {"12:pids:/\n1:name=systemd:/user.slice/user-1000.slice/session-c1.scope\n0::/\n", "c1"},
      {"0::/user.slice/user-1000.slice/session-42.scope/app.service\n", "42"},
      {"0::/\n", std::nullopt},
      {"0::/system.slice/ssh.service\n", std::nullopt},
      {"0::/user.slice/user-1000.slice/user@1000.service/app.slice\n", std::nullopt},
      // The name becomes a file name: nothing that could leave the sessions folder.
      {"0::/user.slice/session-...scope\n", std::nullopt},
      {"0::/user.slice/session-.scope\n", std::nullopt},
      {"", std::nullopt},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(session::logind_session_name(c.cgroup), c.name) << c.cgroup;
  }
}

TEST(SessionParsing, AuditSessionId) {
  EXPECT_EQ(session::audit_session_id("12\n"), 12u);
  EXPECT_EQ(session::audit_session_id("4294967295"), std::nullopt);  // unset
  EXPECT_EQ(session::audit_session_id("0"), std::nullopt);
  EXPECT_EQ(session::audit_session_id(""), std::nullopt);
  EXPECT_EQ(session::audit_session_id("12abc"), std::nullopt);
  EXPECT_EQ(session::audit_session_id("99999999999"), std::nullopt);
}

TEST(SessionParsing, LogindSessionFile) {
  auto remote = session::parse_logind_session(
      "# This is private data. Do not parse.\nUID=1000\nUSER=someone\nACTIVE=1\nTYPE=tty\n"
      "REMOTE=1\nSERVICE=sshd\nREMOTE_HOST=198.51.100.23\nLEADER=1234\n");
  EXPECT_TRUE(remote.remote);
  EXPECT_EQ(remote.remote_host, "198.51.100.23");

  auto local = session::parse_logind_session("UID=1000\nTYPE=x11\nREMOTE=0\nSEAT=seat0\n");
  EXPECT_FALSE(local.remote);
  EXPECT_EQ(local.remote_host, "");

  EXPECT_FALSE(session::parse_logind_session("UID=1000\n").remote);
}

TEST(SessionParsing, SshClientAddressFromEnvironment) {
  struct Case {
    std::vector<std::string> environment;
    std::optional<std::string> address;
  };
  const std::vector<Case> cases = {
      {{"HOME=/home/x", "SSH_CONNECTION=192.0.2.7 51000 10.0.0.1 22"}, "192.0.2.7"},
      {{"SSH_CLIENT=2001:db8::5 50000 22"}, "2001:db8::5"},
      // The connection wins over the older client variable.
      {{"SSH_CLIENT=192.0.2.1 1 22", "SSH_CONNECTION=192.0.2.2 2 10.0.0.1 22"}, "192.0.2.2"},
      // Text that is no address is never taken for one.
      {{"SSH_CONNECTION=$(reboot) 1 2 3", "SSH_CLIENT=192.0.2.9 1 22"}, "192.0.2.9"},
      {{"SSH_CONNECTION="}, std::nullopt},
      {{"XSSH_CONNECTION=192.0.2.7 1 2 3", "SSH_CONNECTIONS=192.0.2.8 1 2 3"}, std::nullopt},
      {{}, std::nullopt},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(session::ssh_client_address(c.environment), c.address)
        << (c.environment.empty() ? "" : c.environment.front());
  }
}

TEST(SessionParsing, SplitEnviron) {
  EXPECT_EQ(session::split_environ("A=1\0B=2\0"s), (std::vector<std::string>{"A=1", "B=2"}));
  EXPECT_EQ(session::split_environ("A=1\0\0B=2"s), (std::vector<std::string>{"A=1", "B=2"}));
  EXPECT_TRUE(session::split_environ("").empty());
}

TEST(SessionParsing, Classify) {
  using session::LogindSession;
  struct Case {
    const char* what;
    std::optional<std::string> name;
    std::optional<std::uint32_t> audit;
    std::optional<LogindSession> logind;
    std::optional<std::string> ssh;
    std::uint32_t id;
    std::optional<std::string> peer;
  };
  const std::vector<Case> cases = {
      {"logind remote, numeric name", "7", 99, LogindSession{true, "host.example"}, std::nullopt, 7,
       "host.example"},
      {"logind remote, named session uses audit id", "c2", 41, LogindSession{true, "192.0.2.1"}, std::nullopt,
       41, "192.0.2.1"},
      {"logind remote, no id known", std::nullopt, std::nullopt, LogindSession{true, "192.0.2.1"},
       std::nullopt, 1, "192.0.2.1"},
      {"logind remote without host takes the ssh peer", "5", std::nullopt, LogindSession{true, ""},
       "192.0.2.3", 5, "192.0.2.3"},
      {"logind remote, no address anywhere", "5", std::nullopt, LogindSession{true, ""}, std::nullopt, 5,
       std::nullopt},
      {"logind local but ssh in the environment", "4", std::nullopt, LogindSession{false, ""}, "192.0.2.4", 4,
       "192.0.2.4"},
      {"no logind, ssh", std::nullopt, 12, std::nullopt, "192.0.2.5", 12, "192.0.2.5"},
      {"no logind, ssh, nothing known", std::nullopt, std::nullopt, std::nullopt, "192.0.2.5", 1,
       "192.0.2.5"},
      {"logind local console", "3", 3, LogindSession{false, ""}, std::nullopt, 0, std::nullopt},
      {"nothing at all", std::nullopt, std::nullopt, std::nullopt, std::nullopt, 0, std::nullopt},
  };
  for (const Case& c : cases) {
    auto result = session::classify(c.name, c.audit, c.logind, c.ssh);
    EXPECT_EQ(result.id, c.id) << c.what;
    EXPECT_EQ(result.peer, c.peer) << c.what;
  }
}

TEST(SystemInfoReal, ProcessZeroIsNeverRemote) { EXPECT_EQ(SystemInfo().session_id(0), 0u); }

}  // namespace
}  // namespace ovik::platform
