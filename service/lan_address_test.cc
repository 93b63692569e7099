#include "service/lan_address.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <string>

namespace tenvar::service {
namespace {

TEST(IsLanAddress, AcceptsExactlyLoopbackPrivateAndLinkLocalRanges) {
  const struct {
    const char* Address;
    bool Lan;
  } cases[] = {
      {"127.0.0.1", true},       {"127.255.255.255", true}, {"126.255.255.255", false},
      {"128.0.0.0", false},      {"10.0.0.0", true},        {"10.255.255.255", true},
      {"9.255.255.255", false},  {"11.0.0.0", false},       {"172.15.255.255", false},
      {"172.16.0.0", true},      {"172.31.255.255", true},  {"172.32.0.0", false},
      {"192.168.0.0", true},     {"192.168.255.255", true}, {"192.167.255.255", false},
      {"192.169.0.0", false},    {"169.254.0.1", true},     {"169.254.255.255", true},
      {"169.253.255.255", false}, {"169.255.0.0", false},   {"8.8.8.8", false},
      {"0.0.0.0", false},        {"255.255.255.255", false},
  };
  for (const auto& c : cases) {
    in_addr address{};
    ASSERT_EQ(::inet_pton(AF_INET, c.Address, &address), 1) << c.Address;
    EXPECT_EQ(IsLanAddress(address), c.Lan) << c.Address;
  }
}

}  // namespace
}  // namespace tenvar::service
