#include "dialup/ppp_link.h"

#include <gtest/gtest.h>

#include "platform/temp_dir.h"

namespace tenvar::dialup {
namespace {

// Only a ppp interface whose flags say up counts (its state is "unknown" while up), unless it
// is the ignored one; without flags its operational state decides.
TEST(PppLink, OnlyAnUpPppInterfaceOtherThanTheIgnoredOneCounts) {
  struct Case {
    const char* Name;
    const char* Flags;
    const char* State;
    const char* Ignored;
    bool Up;
  };
  const Case cases[] = {
      {"ppp0", "0x10d1", "unknown", "", true},
      {"ppp0", "0x1090", "unknown", "", false},  // created by pppd, not yet up
      {"ppp1", "0x1091", "down", "", false},
      {"eth0", "0x1003", "up", "", false},
      {"ppp2", "0x10d1", "unknown", "ppp2", false},
      {"ppp2", "0x10d1", "unknown", "ppp0", true},
      {"ppp0", nullptr, "up", "", true},
      {"ppp1", nullptr, "unknown", "", false},
  };
  for (const Case& entry : cases) {
    platform::TempDir net;
    const std::string folder = std::string(entry.Name) + "/";
    if (entry.Flags != nullptr) net.Write(folder + "flags", std::string(entry.Flags) + "\n");
    net.Write(folder + "operstate", std::string(entry.State) + "\n");
    EXPECT_EQ(AnyPppLinkUp(net.Path(), entry.Ignored), entry.Up)
        << entry.Name << " " << (entry.Flags ? entry.Flags : "-") << " " << entry.State;
  }
  platform::TempDir net;
  EXPECT_FALSE(AnyPppLinkUp(net.File("missing")));
}

}  // namespace
}  // namespace tenvar::dialup
