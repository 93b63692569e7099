#include "dialup/ppp_link.h"

#include <gtest/gtest.h>

#include "platform/temp_dir.h"

namespace tenvar::dialup {
namespace {

void AddInterface(const platform::TempDir& net, const std::string& name, const char* flags,
                  const char* operstate) {
  if (flags != nullptr) net.Write(name + "/flags", std::string(flags) + "\n");
  if (operstate != nullptr) net.Write(name + "/operstate", std::string(operstate) + "\n");
}

TEST(PppLink, AnUpPppInterfaceCountsEvenWhenItsStateIsUnknown) {
  platform::TempDir net;
  AddInterface(net, "ppp0", "0x10d1", "unknown");
  EXPECT_TRUE(AnyPppLinkUp(net.Path()));
}

TEST(PppLink, DownInterfacesAndOtherKindsDoNotCount) {
  platform::TempDir net;
  AddInterface(net, "ppp0", "0x1090", "unknown");  // created by pppd, not yet up
  AddInterface(net, "ppp1", "0x1091", "down");
  AddInterface(net, "eth0", "0x1003", "up");
  EXPECT_FALSE(AnyPppLinkUp(net.Path()));
}

TEST(PppLink, TheIgnoredInterfaceDoesNotCount) {
  platform::TempDir net;
  AddInterface(net, "ppp2", "0x10d1", "unknown");
  EXPECT_FALSE(AnyPppLinkUp(net.Path(), "ppp2"));
  EXPECT_TRUE(AnyPppLinkUp(net.Path(), "ppp0"));
}

TEST(PppLink, WithoutFlagsTheOperationalStateDecides) {
  platform::TempDir net;
  AddInterface(net, "ppp0", nullptr, "up");
  AddInterface(net, "ppp1", nullptr, "unknown");
  EXPECT_TRUE(InterfaceIsUp(net.File("ppp0")));
  EXPECT_FALSE(InterfaceIsUp(net.File("ppp1")));
}

TEST(PppLink, AMissingFolderHasNoLinks) {
  platform::TempDir net;
  EXPECT_FALSE(AnyPppLinkUp(net.File("missing")));
}

}  // namespace
}  // namespace tenvar::dialup
