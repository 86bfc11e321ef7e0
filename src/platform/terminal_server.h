// The terminal-server component that clsMetaClientInfo asks for the client of a remote session.
//
// It answers from the login session of the calling process (remote_client_of_own_session). On
// Linux the remote session is an SSH or remote-desktop login: the client address is the session's
// remote peer (SystemInfo::remote_peer_address), the client name its reverse lookup (HostLookup),
// or the address itself when no name is registered. On Windows it is the terminal session: the
// client address and name that the terminal services report for it (WTSClientAddress,
// WTSClientName), the address standing in for a name they do not report.
//
// It is a class of the component frame, registered in-process under kTerminalServerProgId and
// outside the OvikEnvironment type library; callers reach it only by name through dispatch:
//   farm = create_object(kTerminalServerProgId)
//   farm.Initialize(value)                       accepts any value
//   session = farm.GetSession(code, serverName ByRef, sessionId ByRef)
//   session.ClientName, session.ClientAddress    read-only text
// GetSession raises (error kTerminalServerError, source "MetaFrameCom") whenever it cannot answer:
// before Initialize, for session 0 or a session other than the caller's, and when the session has
// no known remote peer. It leaves both by-reference arguments as they were. A host or a test puts
// another component in its place with register_factory(kTerminalServerProgId, ...).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace ovik::platform {

inline constexpr std::string_view kTerminalServerProgId = "MetaFrameCom.MetaFrameFarm.2";
inline constexpr std::int32_t kTerminalServerError = static_cast<std::int32_t>(0x80004005);

struct RemoteClient {
  std::string name;
  std::string address;
};

// The client of the calling process's own remote session, as this platform knows it; none when
// the session has no known remote client (a local session among them). Never throws.
std::optional<RemoteClient> remote_client_of_own_session();

}  // namespace ovik::platform
