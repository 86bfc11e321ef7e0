#include "platform/host_lookup.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <memory>

namespace ovik::platform {

namespace {

struct AddrInfoFree {
  void operator()(addrinfo* list) const { ::freeaddrinfo(list); }
};

}  // namespace

bool HostLookup::host_name(std::string& out) {
  char buffer[256];
  std::memset(buffer, ' ', sizeof buffer);
  // The result code is not looked at: a name that did not fit leaves no NUL, and that is the
  // failure the caller sees.
  (void)::gethostname(buffer, sizeof buffer);
  const void* nul = std::memchr(buffer, '\0', sizeof buffer);
  if (nul == nullptr) return false;
  out.assign(buffer, static_cast<std::size_t>(static_cast<const char*>(nul) - buffer));
  return true;
}

std::vector<std::array<std::uint8_t, 4>> HostLookup::ipv4_addresses(const std::string& host) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  // One socket type, or every address comes back once per type.
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* raw = nullptr;
  if (::getaddrinfo(host.c_str(), nullptr, &hints, &raw) != 0) return {};
  std::unique_ptr<addrinfo, AddrInfoFree> list(raw);
  std::vector<std::array<std::uint8_t, 4>> addresses;
  for (const addrinfo* entry = list.get(); entry != nullptr; entry = entry->ai_next) {
    if (entry->ai_family != AF_INET || entry->ai_addr == nullptr ||
        entry->ai_addrlen < static_cast<socklen_t>(sizeof(sockaddr_in))) {
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
  sockaddr_storage storage{};
  socklen_t length = 0;
  auto* v4 = reinterpret_cast<sockaddr_in*>(&storage);
  auto* v6 = reinterpret_cast<sockaddr_in6*>(&storage);
  if (::inet_pton(AF_INET, address_text.c_str(), &v4->sin_addr) == 1) {
    v4->sin_family = AF_INET;
    length = sizeof(sockaddr_in);
  } else if (::inet_pton(AF_INET6, address_text.c_str(), &v6->sin6_addr) == 1) {
    v6->sin6_family = AF_INET6;
    length = sizeof(sockaddr_in6);
  } else {
    return std::nullopt;
  }
  char name[NI_MAXHOST];
  if (::getnameinfo(reinterpret_cast<sockaddr*>(&storage), length, name, sizeof name, nullptr, 0,
                    NI_NAMEREQD) != 0) {
    return std::nullopt;
  }
  std::string result(name);
  if (!result.empty() && result.back() == '.') result.pop_back();
  if (result.empty()) return std::nullopt;
  return result;
}

}  // namespace ovik::platform
