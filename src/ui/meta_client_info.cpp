#include "ui/meta_client_info.h"

#include <array>
#include <exception>
#include <span>

#include "ovik/component.h"
#include "ovik/describe.h"
#include "ovik/error.h"
#include "platform/host_lookup.h"
#include "platform/system_info.h"
#include "platform/terminal_server.h"

namespace ovik {

namespace {

// Calls a member by name, as a late-bound client does: the component's own vtable is never seen.
Variant call_by_name(IDispatch& object, std::string_view name, InvokeKind kind, std::span<Variant> args) {
  const std::int32_t dispid = object.GetIDOfName(name);
  if (dispid == kDispidUnknown) raise_runtime_error(err::kMemberNotSupported, std::string(name));
  return object.Invoke(dispid, kind, args);
}

const ClassRegistration kRegistration(&clsMetaClientInfo::type_info);

}  // namespace

const TypeInfo& clsMetaClientInfo::type_info() {
  static const TypeInfo info = [] {
    TypeInfo t = class_info<_clsMetaClientInfo>(
        "clsMetaClientInfo", Guid::of("1EBC692C-EA5C-4A0E-A417-516BEECC7CD8"), Instancing::Creatable, 5);
    t.create = [] { return Ref<IDispatch>(make_object<clsMetaClientInfo>()); };
    Describe<_clsMetaClientInfo>(t)
        .get("ClientName", &_clsMetaClientInfo::get_ClientName)
        .get("HostIpAddress", &_clsMetaClientInfo::get_HostIpAddress)
        .get("ServerName", &_clsMetaClientInfo::get_ServerName);
    return t;
  }();
  return info;
}

clsMetaClientInfo::clsMetaClientInfo() {
  platform::SystemInfo& system = platform::Facility<platform::SystemInfo>::get();
  const std::string computer_name = system.computer_name();
  const std::uint32_t process_id = system.process_id();
  if (process_id == 0) {
    SetLocalMachineInfo();
    return;
  }
  const std::uint32_t session_id = system.session_id(process_id);
  if (session_id == 0) {
    SetLocalMachineInfo();
    return;
  }
  try {
    ReadTerminalSession(computer_name, session_id);
  } catch (const std::exception&) {
    // Whatever the component could not answer, the local values stand in. A host name that
    // cannot be read still fails creation from here: it is raised outside this try.
    SetLocalMachineInfo();
  }
}

void clsMetaClientInfo::ReadTerminalSession(const std::string& computer_name, std::uint32_t session_id) {
  Ref<IDispatch> farm = create_object(platform::kTerminalServerProgId);
  if (!farm) raise_runtime_error(err::kObjectNotSet);
  std::array<Variant, 1> init{Variant(std::int32_t{1})};
  (void)call_by_name(*farm, "Initialize", InvokeKind::Method, init);

  m_strServerName = computer_name;
  std::array<Variant, 3> args{Variant(std::int32_t{6}), Variant(m_strServerName),
                              Variant(static_cast<std::int32_t>(session_id))};
  Ref<IDispatch> session = call_by_name(*farm, "GetSession", InvokeKind::Method, args).to_object();
  // The server name went by reference: the component may have written it.
  m_strServerName = args[1].to_string();
  if (!session) raise_runtime_error(err::kObjectNotSet);

  m_strClientName = call_by_name(*session, "ClientName", InvokeKind::PropertyGet, {}).to_string();
  m_strHostIpAddress = call_by_name(*session, "ClientAddress", InvokeKind::PropertyGet, {}).to_string();
  // Released session first, then the farm.
  session.reset();
  farm.reset();
}

void clsMetaClientInfo::SetLocalMachineInfo() {
  m_strServerName = platform::Facility<platform::SystemInfo>::get().computer_name();
  m_strClientName = m_strServerName;
  m_strHostIpAddress = GetLocalIpAddress();
}

std::string clsMetaClientInfo::GetLocalIpAddress() {
  platform::HostLookup& lookup = platform::Facility<platform::HostLookup>::get();
  std::string host_name;
  // No NUL in the name buffer: the text before it cannot be taken, and that failure is not
  // caught anywhere on the way to the creator.
  if (!lookup.host_name(host_name)) raise_runtime_error(err::kInvalidArgument);
  std::string result;
  // The last address of the list wins.
  for (const auto& address : lookup.ipv4_addresses(host_name)) result = platform::dotted_quad(address);
  return result;
}

}  // namespace ovik
