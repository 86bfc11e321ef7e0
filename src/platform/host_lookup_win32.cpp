#include "platform/host_lookup.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <cstring>
#include <memory>

namespace ovik::platform {

namespace {

// The sockets library for the length of one lookup; WSACleanup runs whatever WSAStartup
// answered, as the original lookup did (the library counts its starts).
class WinsockSession {
 public:
  WinsockSession() {
    WSADATA data;
    (void)WSAStartup(MAKEWORD(2, 2), &data);
  }
  ~WinsockSession() { WSACleanup(); }
  WinsockSession(const WinsockSession&) = delete;
  WinsockSession& operator=(const WinsockSession&) = delete;
};

struct AddrInfoFree {
  void operator()(addrinfo* list) const { freeaddrinfo(list); }
};

}  // namespace

bool HostLookup::host_name(std::string& out) {
  const WinsockSession sockets;
  char buffer[256];
  std::memset(buffer, ' ', sizeof buffer);
  // The result code is not looked at: a failure leaves the blanks, no NUL, and that is the
  // failure the caller sees.
  (void)gethostname(buffer, sizeof buffer);
  const void* nul = std::memchr(buffer, '\0', sizeof buffer);
  if (nul == nullptr) return false;
  out.assign(buffer, static_cast<std::size_t>(static_cast<const char*>(nul) - buffer));
  return true;
}

std::vector<std::array<std::uint8_t, 4>> HostLookup::ipv4_addresses(const std::string& host) {
  const WinsockSession sockets;
  addrinfo hints{};
  hints.ai_family = AF_INET;
  // One socket type, or every address comes back once per type.
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* raw = nullptr;
  if (getaddrinfo(host.c_str(), nullptr, &hints, &raw) != 0) return {};
  std::unique_ptr<addrinfo, AddrInfoFree> list(raw);
  std::vector<std::array<std::uint8_t, 4>> addresses;
  for (const addrinfo* entry = list.get(); entry != nullptr; entry = entry->ai_next) {
    if (entry->ai_family != AF_INET || entry->ai_addr == nullptr ||
        entry->ai_addrlen < static_cast<std::size_t>(sizeof(sockaddr_in))) {
      continue;
    }
    sockaddr_in address;
    std::memcpy(&address, entry->ai_addr, sizeof address);
    std::array<std::uint8_t, 4> bytes;
    std::memcpy(bytes.data(), &address.sin_addr, bytes.size());
    addresses.push_back(bytes);
  }
  return addresses;
}

std::optional<std::string> HostLookup::reverse_name(const std::string& address_text) {
  const WinsockSession sockets;
  sockaddr_storage storage{};
  int length = 0;
  auto* v4 = reinterpret_cast<sockaddr_in*>(&storage);
  auto* v6 = reinterpret_cast<sockaddr_in6*>(&storage);
  if (inet_pton(AF_INET, address_text.c_str(), &v4->sin_addr) == 1) {
    v4->sin_family = AF_INET;
    length = sizeof(sockaddr_in);
  } else if (inet_pton(AF_INET6, address_text.c_str(), &v6->sin6_addr) == 1) {
    v6->sin6_family = AF_INET6;
    length = sizeof(sockaddr_in6);
  } else {
    return std::nullopt;
  }
  char name[NI_MAXHOST];
  if (getnameinfo(reinterpret_cast<sockaddr*>(&storage), length, name, sizeof name, nullptr, 0, NI_NAMEREQD) != 0) {
    return std::nullopt;
  }
  std::string result(name);
  if (!result.empty() && result.back() == '.') result.pop_back();
  if (result.empty()) return std::nullopt;
  return result;
}

}  // namespace ovik::platform
