// clsMetaClientInfo: the server name, client name and client IP address, settled once at creation.
//
// In a remote login session the client's name and address come from the terminal-server component,
// created by its programmatic name and called only by name through dispatch, so that a host (or a
// test) can put another component under that name. Any failure on that path is swallowed and the
// local machine's values are taken instead. The one failure that reaches the creator is a host
// name that cannot be read (error 5): the object is then not created.
//
// Nothing is held after creation; the component's objects are released before the constructor
// returns, on every path.
#pragma once

#include <cstdint>
#include <string>

#include "ovik/client_info.h"
#include "ovik/object.h"

namespace ovik {

class clsMetaClientInfo final : public Object<clsMetaClientInfo, _clsMetaClientInfo> {
 public:
  static const TypeInfo& type_info();

  clsMetaClientInfo();

  std::string get_ClientName() override { return m_strClientName; }
  std::string get_HostIpAddress() override { return m_strHostIpAddress; }
  std::string get_ServerName() override { return m_strServerName; }

 private:
  // Takes the client's name and address from the terminal-server component; raises whatever the
  // component or the conversion to text raises.
  void ReadTerminalSession(const std::string& computer_name, std::uint32_t session_id);
  void SetLocalMachineInfo();
  static std::string GetLocalIpAddress();

  std::string m_strServerName;
  std::string m_strClientName;
  std::string m_strHostIpAddress;
};

}  // namespace ovik
