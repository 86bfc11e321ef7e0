#include "platform/terminal_server.h"

#include "platform/host_lookup.h"
#include "platform/system_info.h"

namespace ovik::platform {

std::optional<RemoteClient> remote_client_of_own_session() {
  const std::optional<std::string> peer = Facility<SystemInfo>::get().remote_peer_address();
  if (!peer || peer->empty()) return std::nullopt;
  std::optional<std::string> name = Facility<HostLookup>::get().reverse_name(*peer);
  return RemoteClient{name ? *name : *peer, *peer};
}

}  // namespace ovik::platform
