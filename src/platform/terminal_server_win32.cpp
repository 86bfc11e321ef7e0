#include "platform/terminal_server.h"

#include <windows.h>
#include <wtsapi32.h>

#include <cstring>
#include <cwchar>

#include "platform/system_info.h"
#include "platform/win32/wide.h"
#include "platform/win32/wts_session.h"

namespace ovik::platform {

namespace {

// The client's name as its terminal client reported it; "" for a console session.
std::string own_session_client_name() {
  const auto bytes = win32::own_session_item(WTSClientName);
  if (!bytes || bytes->size() < sizeof(wchar_t)) return {};
  std::wstring name(bytes->size() / sizeof(wchar_t), L'\0');
  std::memcpy(name.data(), bytes->data(), name.size() * sizeof(wchar_t));
  name.resize(std::wcslen(name.c_str()));
  return win32::to_utf8(name);
}

}  // namespace

std::optional<RemoteClient> remote_client_of_own_session() {
  const std::optional<std::string> address = Facility<SystemInfo>::get().remote_peer_address();
  if (!address || address->empty()) return std::nullopt;
  std::string name = own_session_client_name();
  if (name.empty()) name = *address;
  return RemoteClient{std::move(name), *address};
}

}  // namespace ovik::platform
