#include "platform/terminal_server.h"

#include <optional>
#include <string>
#include <utility>

#include "ovik/component.h"
#include "ovik/describe.h"
#include "ovik/error.h"
#include "ovik/object.h"
#include "platform/system_info.h"

namespace ovik::platform {

namespace {

constexpr const char* kSource = "MetaFrameCom";

class _MetaFrameSession : public IDispatch {
 public:
  static constexpr Guid IID = Guid::of("E2B7C7A4-5D0B-4C3F-9A61-0F4B8D2E6C11");
  static constexpr std::string_view kTypeName = "MetaFrameSession";
  virtual std::string get_ClientName() = 0;
  virtual std::string get_ClientAddress() = 0;
};

class _MetaFrameFarm : public IDispatch {
 public:
  static constexpr Guid IID = Guid::of("7C3D2F90-8E4A-4B6D-A1C5-3B9E0D7F2A48");
  static constexpr std::string_view kTypeName = "MetaFrameFarm";
  virtual void Initialize(std::int32_t value) = 0;
  virtual Ref<_MetaFrameSession> GetSession(std::int32_t code, std::string& serverName,
                                            std::int32_t& sessionId) = 0;
};

// The client of one session, as it was when the farm handed it out.
class MetaFrameSession final : public Object<MetaFrameSession, _MetaFrameSession> {
 public:
  static const TypeInfo& type_info() {
    static const TypeInfo info = [] {
      TypeInfo t = class_info<_MetaFrameSession>(
          "MetaFrameSession", Guid::of("FAFCFA1E-F4D0-4AD4-96C4-A71DCB930817"), Instancing::Internal, 0);
      t.library = kSource;
      Describe<_MetaFrameSession>(t)
          .get("ClientName", &_MetaFrameSession::get_ClientName)
          .get("ClientAddress", &_MetaFrameSession::get_ClientAddress);
      return t;
    }();
    return info;
  }

  MetaFrameSession(std::string name, std::string address)
      : name_(std::move(name)), address_(std::move(address)) {}

  std::string get_ClientName() override { return name_; }
  std::string get_ClientAddress() override { return address_; }

 private:
  std::string name_;
  std::string address_;
};

class MetaFrameFarm final : public Object<MetaFrameFarm, _MetaFrameFarm> {
 public:
  static const TypeInfo& type_info() {
    static const TypeInfo info = [] {
      // The frame forms the programmatic name from library and class name, so the version suffix
      // of the name the caller asks for is part of the class name.
      TypeInfo t = class_info<_MetaFrameFarm>(
          "MetaFrameFarm.2", Guid::of("4B549A82-B62C-4379-90C1-12EEC40BE8F2"), Instancing::Creatable, 0);
      t.library = kSource;
      t.create = [] { return Ref<IDispatch>(make_object<MetaFrameFarm>()); };
      Describe<_MetaFrameFarm>(t)
          .method("Initialize", &_MetaFrameFarm::Initialize, {"value"})
          .method("GetSession", &_MetaFrameFarm::GetSession, {"code", "serverName", "sessionId"});
      return t;
    }();
    return info;
  }

  void Initialize(std::int32_t) override { initialized_ = true; }

  Ref<_MetaFrameSession> GetSession(std::int32_t, std::string&, std::int32_t& sessionId) override {
    if (!initialized_) fail("the farm has not been initialized");
    SystemInfo& system = Facility<SystemInfo>::get();
    const auto own_session = static_cast<std::int32_t>(system.session_id(system.process_id()));
    if (sessionId == 0 || sessionId != own_session)
      fail("session " + std::to_string(sessionId) + " is not a remote session of this process");
    std::optional<RemoteClient> client = remote_client_of_own_session();
    if (!client) fail("the remote client of this session is not known");
    return Ref<_MetaFrameSession>(make_object<MetaFrameSession>(std::move(client->name), std::move(client->address)));
  }

 private:
  [[noreturn]] static void fail(std::string description) {
    throw RaisedError(kTerminalServerError, kSource, std::move(description));
  }

  bool initialized_ = false;
};

const ClassRegistration kFarm(&MetaFrameFarm::type_info);
const ClassRegistration kSession(&MetaFrameSession::type_info);

}  // namespace

}  // namespace ovik::platform
