#include "ui/meta_client_info.h"

#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "ovik/component.h"
#include "ovik/describe.h"
#include "ovik/error.h"
#include "platform/host_lookup.h"
#include "platform/system_info.h"
#include "platform/terminal_server.h"

namespace ovik {
namespace {

using platform::kTerminalServerProgId;
using platform::ScopedFake;
using Address = std::array<std::uint8_t, 4>;

constexpr const char* kComputer = "store-srv-01";

class FakeSystem final : public platform::SystemInfo {
 public:
  std::string computer_name() override { return kComputer; }
  std::uint32_t process_id() override { return pid; }
  std::uint32_t session_id(std::uint32_t asked) override {
    ++session_lookups;
    return asked == pid ? session : 0;
  }
  std::optional<std::string> remote_peer_address() override { return peer; }

  std::uint32_t pid = 4242;
  std::uint32_t session = 0;
  std::optional<std::string> peer;
  int session_lookups = 0;
};

class FakeHosts final : public platform::HostLookup {
 public:
  bool host_name(std::string& out) override {
    ++lookups;
    if (!has_nul) return false;
    out = kComputer;
    return true;
  }
  std::vector<Address> ipv4_addresses(const std::string& host) override {
    asked_for = host;
    return addresses;
  }
  std::optional<std::string> reverse_name(const std::string& address) override {
    return address == named_address ? name : std::nullopt;
  }

  bool has_nul = true;
  std::vector<Address> addresses;
  std::string asked_for;
  int lookups = 0;
  std::string named_address;
  std::optional<std::string> name;
};

// ---------------------------------------------------------------------------------------------
// A terminal-server component of the test's own, put under the programmatic name with
// register_factory; it records the calls it receives and fails where a case says so.

enum class Behaviour { Working, Missing, InitializeFails, NoSession, ClientNameIsNull, ClientAddressFails };

struct Recording {
  Behaviour behaviour = Behaviour::Working;
  std::vector<std::string> calls;
  int farms_created = 0;
};
Recording* g_recording = nullptr;

class _TestSession : public IDispatch {
 public:
  static constexpr Guid IID = Guid::of("5A0F5C8E-1B7A-4C2B-9E39-6D1E2F3A4B01");
  static constexpr std::string_view kTypeName = "TestSession";
  virtual Variant get_ClientName() = 0;
  virtual Variant get_ClientAddress() = 0;
};

class _TestFarm : public IDispatch {
 public:
  static constexpr Guid IID = Guid::of("5A0F5C8E-1B7A-4C2B-9E39-6D1E2F3A4B02");
  static constexpr std::string_view kTypeName = "TestFarm";
  virtual void Initialize(std::int32_t value) = 0;
  virtual Variant GetSession(std::int32_t code, std::string& serverName, std::int32_t& sessionId) = 0;
};

class TestSession final : public Object<TestSession, _TestSession> {
 public:
  static const TypeInfo& type_info() {
    static const TypeInfo info = [] {
      TypeInfo t = class_info<_TestSession>("TestSession", Guid::of("5A0F5C8E-1B7A-4C2B-9E39-6D1E2F3A4B03"),
                                            Instancing::Internal, 0);
      t.library = "OvikUiTest";
      Describe<_TestSession>(t)
          .get("ClientName", &_TestSession::get_ClientName)
          .get("ClientAddress", &_TestSession::get_ClientAddress);
      return t;
    }();
    return info;
  }
  Variant get_ClientName() override {
    g_recording->calls.push_back("ClientName");
    if (g_recording->behaviour == Behaviour::ClientNameIsNull) return Variant(Null{});
    return Variant("ws-17");
  }
  Variant get_ClientAddress() override {
    g_recording->calls.push_back("ClientAddress");
    if (g_recording->behaviour == Behaviour::ClientAddressFails)
      throw RaisedError(-2147467259, "TestFarm", "gone");
    return Variant("203.0.113.9");
  }
  ~TestSession() override { g_recording->calls.push_back("session released"); }
};

class TestFarm final : public Object<TestFarm, _TestFarm> {
 public:
  static const TypeInfo& type_info() {
    static const TypeInfo info = [] {
      TypeInfo t = class_info<_TestFarm>("TestFarm", Guid::of("5A0F5C8E-1B7A-4C2B-9E39-6D1E2F3A4B04"),
                                         Instancing::Internal, 0);
      t.library = "OvikUiTest";
      Describe<_TestFarm>(t)
          .method("Initialize", &_TestFarm::Initialize, {"value"})
          .method("GetSession", &_TestFarm::GetSession, {"code", "serverName", "sessionId"});
      return t;
    }();
    return info;
  }
  void Initialize(std::int32_t value) override {
    g_recording->calls.push_back("Initialize " + std::to_string(value));
    if (g_recording->behaviour == Behaviour::InitializeFails) throw RaisedError(1, "TestFarm", "no farm");
  }
  Variant GetSession(std::int32_t code, std::string& serverName, std::int32_t& sessionId) override {
    g_recording->calls.push_back("GetSession " + std::to_string(code) + " " + serverName + " " +
                                 std::to_string(sessionId));
    if (g_recording->behaviour == Behaviour::NoSession) return Variant::nothing();
    return Variant(Ref<IDispatch>(make_object<TestSession>()));
  }
  ~TestFarm() override { g_recording->calls.push_back("farm released"); }
};

class MetaClientInfoTest : public ::testing::Test {
 protected:
  MetaClientInfoTest() {
    g_recording = &recording_;
    register_factory(std::string(kTerminalServerProgId), [this]() -> Ref<IDispatch> {
      ++recording_.farms_created;
      if (recording_.behaviour == Behaviour::Missing) raise_runtime_error(err::kCannotCreateObject);
      return Ref<IDispatch>(make_object<TestFarm>());
    });
  }
  ~MetaClientInfoTest() override {
    register_factory(std::string(kTerminalServerProgId), nullptr);
    g_recording = nullptr;
  }

  Recording recording_;
  FakeSystem system_;
  FakeHosts hosts_;
  ScopedFake<platform::SystemInfo> system_fake_{system_};
  ScopedFake<platform::HostLookup> hosts_fake_{hosts_};
};

struct Expected {
  std::string server, client, address;
};

void expect_values(_clsMetaClientInfo& info, const Expected& e) {
  EXPECT_EQ(info.get_ServerName(), e.server);
  EXPECT_EQ(info.get_ClientName(), e.client);
  EXPECT_EQ(info.get_HostIpAddress(), e.address);
}

TEST_F(MetaClientInfoTest, LocalValuesOutsideARemoteSession) {
  const struct {
    const char* name;
    std::uint32_t pid;
    std::vector<Address> addresses;
    std::string expected_address;
  } cases[] = {
      {"console session, two addresses: the last wins",
       4242,
       {{10, 0, 0, 5}, {192, 168, 10, 7}},
       "192.168.10.7"},
      {"console session, one address", 4242, {{172, 16, 0, 1}}, "172.16.0.1"},
      {"host lookup finds nothing", 4242, {}, ""},
      {"no process id", 0, {{10, 0, 0, 1}}, "10.0.0.1"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    system_.pid = c.pid;
    system_.session_lookups = 0;
    hosts_.addresses = c.addresses;
    Ref<clsMetaClientInfo> info = make_object<clsMetaClientInfo>();
    expect_values(*info, {kComputer, kComputer, c.expected_address});
    EXPECT_EQ(hosts_.asked_for, kComputer);
    EXPECT_EQ(system_.session_lookups, c.pid == 0 ? 0 : 1);
  }
  // Session 0 never reaches for the component, even where it is installed.
  EXPECT_EQ(recording_.farms_created, 0);
}

TEST_F(MetaClientInfoTest, RemoteSessionAsksTheComponentByNameInOrder) {
  system_.session = 7;
  hosts_.addresses = {{10, 0, 0, 5}};
  Ref<IDispatch> info = create_object("OvikEnvironment.clsMetaClientInfo");
  EXPECT_EQ(recording_.calls,
            (std::vector<std::string>{"Initialize 1", "GetSession 6 store-srv-01 7", "ClientName",
                                      "ClientAddress", "session released", "farm released"}));
  const struct {
    const char* property;
    const char* expected;
  } reads[] = {{"ServerName", kComputer}, {"ClientName", "ws-17"}, {"HostIpAddress", "203.0.113.9"}};
  for (int round = 0; round < 2; ++round) {
    for (const auto& r : reads) {
      EXPECT_EQ(info->Invoke(info->GetIDOfName(r.property), InvokeKind::PropertyGet, {}).to_string(),
                r.expected);
    }
  }
  // The local lookup is not needed on this path, and reading properties looks nothing up.
  EXPECT_EQ(hosts_.lookups, 0);
  EXPECT_EQ(system_.session_lookups, 1);
}

TEST_F(MetaClientInfoTest, AnyFailureOnTheTerminalPathFallsBackToLocalValues) {
  const struct {
    const char* name;
    Behaviour behaviour;
  } cases[] = {
      {"component missing", Behaviour::Missing},
      {"Initialize fails", Behaviour::InitializeFails},
      {"GetSession returns Nothing", Behaviour::NoSession},
      {"ClientName cannot become text", Behaviour::ClientNameIsNull},
      {"ClientAddress fails after ClientName", Behaviour::ClientAddressFails},
  };
  system_.session = 7;
  hosts_.addresses = {{10, 0, 0, 5}, {192, 168, 10, 7}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    recording_.behaviour = c.behaviour;
    recording_.calls.clear();
    Ref<clsMetaClientInfo> info = make_object<clsMetaClientInfo>();
    expect_values(*info, {kComputer, kComputer, "192.168.10.7"});
    // Whatever the component handed out is released by the end of creation.
    if (c.behaviour != Behaviour::Missing) {
      EXPECT_EQ(recording_.calls.back(), "farm released");
    }
  }
}

TEST_F(MetaClientInfoTest, UnreadableHostNameFailsCreationOnlyWhereTheLocalPathRuns) {
  hosts_.has_nul = false;
  const struct {
    const char* name;
    std::uint32_t session;
    Behaviour behaviour;
    bool fails;
  } cases[] = {
      {"console session", 0, Behaviour::Working, true},
      {"remote session, component missing", 7, Behaviour::Missing, true},
      {"remote session, ClientAddress fails", 7, Behaviour::ClientAddressFails, true},
      {"remote session, working component", 7, Behaviour::Working, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    system_.session = c.session;
    recording_.behaviour = c.behaviour;
    if (!c.fails) {
      EXPECT_EQ(create<_clsMetaClientInfo>("OvikEnvironment.clsMetaClientInfo")->get_ClientName(), "ws-17");
      continue;
    }
    try {
      create_object("OvikEnvironment.clsMetaClientInfo");
      ADD_FAILURE() << "created without a host name";
    } catch (const RaisedError& e) {
      EXPECT_EQ(e.number(), err::kInvalidArgument);
    }
  }
}

// ---------------------------------------------------------------------------------------------
// The stand-in component that answers from the login session

class TerminalServerTest : public ::testing::Test {
 protected:
  TerminalServerTest() {
    system_.session = 7;
    hosts_.addresses = {{10, 0, 0, 5}};
  }
  FakeSystem system_;
  FakeHosts hosts_;
  ScopedFake<platform::SystemInfo> system_fake_{system_};
  ScopedFake<platform::HostLookup> hosts_fake_{hosts_};
};

TEST_F(TerminalServerTest, DescribesTheRemotePeerOfTheLoginSession) {
  const struct {
    const char* name;
    std::optional<std::string> peer;
    std::optional<std::string> reverse_name;
    Expected expected;
  } cases[] = {
      {"peer with a registered name",
       "203.0.113.9",
       "ws-17.example",
       {kComputer, "ws-17.example", "203.0.113.9"}},
      {"peer without a name", "2001:db8::17", std::nullopt, {kComputer, "2001:db8::17", "2001:db8::17"}},
      {"no peer: local values", std::nullopt, std::nullopt, {kComputer, kComputer, "10.0.0.5"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    system_.peer = c.peer;
    hosts_.named_address = c.peer.value_or("");
    hosts_.name = c.reverse_name;
    expect_values(*make_object<clsMetaClientInfo>(), c.expected);
  }
}

TEST_F(TerminalServerTest, RaisesWhenItCannotAnswer) {
  system_.peer = "203.0.113.9";
  auto get_session = [](IDispatch& farm, std::int32_t session_id) {
    std::vector<Variant> args{Variant(std::int32_t{6}), Variant(kComputer), Variant(session_id)};
    return farm.Invoke(farm.GetIDOfName("GetSession"), InvokeKind::Method, args);
  };
  auto expect_raise = [](const std::function<void()>& call, const char* what) {
    try {
      call();
      ADD_FAILURE() << what << " did not raise";
    } catch (const RaisedError& e) {
      EXPECT_EQ(e.number(), platform::kTerminalServerError) << what;
      EXPECT_EQ(e.source(), "MetaFrameCom") << what;
    }
  };

  Ref<IDispatch> farm = create_object(kTerminalServerProgId);
  expect_raise([&] { get_session(*farm, 7); }, "GetSession before Initialize");
  std::vector<Variant> init{Variant(std::int32_t{1})};
  farm->Invoke(farm->GetIDOfName("Initialize"), InvokeKind::Method, init);
  expect_raise([&] { get_session(*farm, 0); }, "session 0");
  expect_raise([&] { get_session(*farm, 8); }, "another session");
  system_.peer = std::nullopt;
  expect_raise([&] { get_session(*farm, 7); }, "no peer");

  system_.peer = "203.0.113.9";
  Ref<IDispatch> session = get_session(*farm, 7).to_object();
  ASSERT_TRUE(session);
  EXPECT_EQ(session->Invoke(session->GetIDOfName("ClientAddress"), InvokeKind::PropertyGet, {}).to_string(),
            "203.0.113.9");
  // Not part of the type library, and the session cannot be created by name.
  for (const TypeInfo* info : type_library_classes()) EXPECT_NE(info->library, "MetaFrameCom");
  EXPECT_THROW(create_object("MetaFrameCom.MetaFrameSession"), RaisedError);
}

}  // namespace
}  // namespace ovik
