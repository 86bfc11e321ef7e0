#include "platform/host_lookup.h"

namespace ovik::platform {

std::string dotted_quad(const std::array<std::uint8_t, 4>& address) {
  std::string text;
  for (std::size_t i = 0; i < address.size(); ++i) {
    if (i != 0) text += '.';
    text += std::to_string(address[i]);
  }
  return text;
}

template <>
HostLookup& Facility<HostLookup>::real() {
  static HostLookup instance;
  return instance;
}

}  // namespace ovik::platform
