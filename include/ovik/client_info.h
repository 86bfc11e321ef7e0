// Early-bound interface of clsMetaClientInfo: the workstation the user sits at, also when the
// program runs in a remote login session on a server.
#pragma once

#include <string>
#include <string_view>

#include "ovik/export.h"
#include "ovik/unknown.h"

namespace ovik {

// All three values are settled while the object is created; the getters hand out copies, look
// nothing up and cannot fail. Creation fails (error 5) only when the local host name cannot be
// read at all.
class OVIK_API _clsMetaClientInfo : public IDispatch {
 public:
  static constexpr Guid IID = Guid::of("FF7E8807-5C8F-497C-A47F-A2FED7E995DA");
  static constexpr std::string_view kTypeName = "clsMetaClientInfo";
  // The remote client device's name in a remote session, otherwise this computer's name.
  virtual std::string get_ClientName() = 0;
  // The remote client's address in a remote session, otherwise the last IPv4 address of this
  // host ("" when the host lookup finds none).
  virtual std::string get_HostIpAddress() = 0;
  // This computer's name.
  virtual std::string get_ServerName() = 0;
};

}  // namespace ovik
