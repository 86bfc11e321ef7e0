// The terminal-server component that clsMetaClientInfo asks for the client of a remote session.
//
// On Linux the remote session is an SSH or remote-desktop login, so this stand-in answers from the
// login session of the calling process: the client address is the session's remote peer
// (SystemInfo::remote_peer_address), the client name its reverse lookup (HostLookup), or the
// address itself when no name is registered.
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
#include <string_view>

namespace ovik::platform {

inline constexpr std::string_view kTerminalServerProgId = "MetaFrameCom.MetaFrameFarm.2";
inline constexpr std::int32_t kTerminalServerError = static_cast<std::int32_t>(0x80004005);

}  // namespace ovik::platform
