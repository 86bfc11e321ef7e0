// Host name and address lookups of the local machine (the sockets layer of the terminal client
// information).
//
// HostLookup is a facility (see facility.h); every virtual member of the base class is the real
// implementation of the platform, so a fake overrides only what it changes. No member throws.
// Lookups go through the system resolver (files, DNS, ...) and may block for as long as it does;
// any thread may call. On Windows each call starts the sockets library (WSAStartup) and shuts it
// down again (WSACleanup) around its own work.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/facility.h"

namespace ovik::platform {

class HostLookup {
 public:
  virtual ~HostLookup() = default;

  // The host name from gethostname in a 256-byte buffer filled with blanks beforehand. False,
  // with `out` untouched, when the buffer holds no NUL afterwards: the name could not be read
  // and the caller raises that failure.
  virtual bool host_name(std::string& out);
  // The IPv4 addresses of `host`, in the order the resolver returns them, each once; empty when
  // the lookup fails or finds none.
  virtual std::vector<std::array<std::uint8_t, 4>> ipv4_addresses(const std::string& host);
  // The name registered for a numeric IPv4 or IPv6 address; none when the text is not such an
  // address or no name is registered (an address is never given back as its own name).
  virtual std::optional<std::string> reverse_name(const std::string& address_text);
};

// The address bytes in the order stored, each in decimal without leading zeros, joined by ".".
std::string dotted_quad(const std::array<std::uint8_t, 4>& address);

}  // namespace ovik::platform
