#include "platform/host_lookup.h"

#include <gtest/gtest.h>

#include "platform/system_info.h"

namespace ovik::platform {
namespace {

TEST(DottedQuad, BytesInOrderWithoutPaddingOrTrailingDot) {
  struct Case {
    std::array<std::uint8_t, 4> bytes;
    const char* text;
  };
  for (const Case& c : std::initializer_list<Case>{{{192, 168, 1, 20}, "192.168.1.20"},
                                                   {{10, 0, 0, 1}, "10.0.0.1"},
                                                   {{172, 16, 0, 1}, "172.16.0.1"},
                                                   {{0, 0, 0, 0}, "0.0.0.0"},
                                                   {{255, 255, 255, 255}, "255.255.255.255"}}) {
    EXPECT_EQ(dotted_quad(c.bytes), c.text);
  }
}

// A numeric host needs no resolver, and shows whether an address comes back once per socket type.
TEST(HostLookupReal, NumericHostGivesItsAddressOnce) {
  auto addresses = HostLookup().ipv4_addresses("127.0.0.1");
  ASSERT_EQ(addresses.size(), 1u);
  EXPECT_EQ(dotted_quad(addresses[0]), "127.0.0.1");
}

TEST(HostLookupReal, EmptyOrIpv6HostGivesNoIpv4Address) {
  EXPECT_TRUE(HostLookup().ipv4_addresses("").empty());
  EXPECT_TRUE(HostLookup().ipv4_addresses("::1").empty());
}

TEST(HostLookupReal, ReverseNameNeedsANumericAddress) {
  EXPECT_EQ(HostLookup().reverse_name(""), std::nullopt);
  EXPECT_EQ(HostLookup().reverse_name("not an address"), std::nullopt);
  EXPECT_EQ(HostLookup().reverse_name("192.0.2.1 ; x"), std::nullopt);
}

TEST(HostLookupReal, HostNameAgreesWithComputerName) {
  std::string name = "untouched";
  ASSERT_TRUE(HostLookup().host_name(name));
  EXPECT_FALSE(name.empty());
  EXPECT_EQ(name, SystemInfo().computer_name());
}

}  // namespace
}  // namespace ovik::platform
