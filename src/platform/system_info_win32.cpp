#include "platform/system_info.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <wtsapi32.h>

#include <array>
#include <cstring>

#include "platform/host_lookup.h"
#include "platform/win32/wide.h"
#include "platform/win32/wts_session.h"

namespace ovik::platform {

std::string SystemInfo::user_name() {
  // UNLEN + 1: the longest name the system allows, with its NUL.
  wchar_t buffer[257];
  DWORD size = sizeof buffer / sizeof buffer[0];
  if (!GetUserNameW(buffer, &size)) return {};
  buffer[std::size(buffer) - 1] = L'\0';
  return win32::to_utf8(buffer);
}

std::string SystemInfo::computer_name() {
  wchar_t buffer[256];
  DWORD size = sizeof buffer / sizeof buffer[0];
  if (!GetComputerNameW(buffer, &size)) return {};
  buffer[std::size(buffer) - 1] = L'\0';
  return win32::to_utf8(buffer);
}

std::uint32_t SystemInfo::process_id() { return GetCurrentProcessId(); }

std::uint32_t SystemInfo::session_id(std::uint32_t pid) {
  if (pid == 0) return 0;
  // A failed call leaves the 0 in place: not a terminal session.
  DWORD session = 0;
  (void)ProcessIdToSessionId(pid, &session);
  return session;
}

std::optional<std::string> SystemInfo::remote_peer_address() {
  const auto bytes = win32::own_session_item(WTSClientAddress);
  if (!bytes || bytes->size() < sizeof(WTS_CLIENT_ADDRESS)) return std::nullopt;
  WTS_CLIENT_ADDRESS client;
  std::memcpy(&client, bytes->data(), sizeof client);
  if (client.AddressFamily == AF_INET) {
    // An IPv4 address stands two bytes into the field.
    std::array<std::uint8_t, 4> address;
    std::memcpy(address.data(), client.Address + 2, address.size());
    if (address == std::array<std::uint8_t, 4>{}) return std::nullopt;
    return dotted_quad(address);
  }
  if (client.AddressFamily == AF_INET6) {
    in6_addr address;
    std::memcpy(&address, client.Address, sizeof address);
    char text[INET6_ADDRSTRLEN] = {};
    if (inet_ntop(AF_INET6, &address, text, sizeof text) == nullptr) return std::nullopt;
    return std::string(text);
  }
  // A console session has no client address (AF_UNSPEC).
  return std::nullopt;
}

template <>
SystemInfo& Facility<SystemInfo>::real() {
  static SystemInfo instance;
  return instance;
}

}  // namespace ovik::platform
