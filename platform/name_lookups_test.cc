#include "platform/name_lookups.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <poll.h>

#include <algorithm>

namespace tenvar::platform {
namespace {

TEST(NameLookups, ResultsComeBackUnderTheirIdsAndAWaiterLeavesOnExit) {
  NameLookups lookUps;
  ASSERT_TRUE(lookUps.Valid());
  lookUps.Start(7, "localhost");
  lookUps.Start(8, "");  // fails without asking any name server
  std::vector<std::pair<std::uint64_t, Resolution>> results;
  while (results.size() < 2) {
    pollfd entry{lookUps.Fd(), POLLIN, 0};
    ASSERT_EQ(::poll(&entry, 1, 10000), 1);
    for (auto& result : lookUps.Take()) results.push_back(std::move(result));
  }
  std::sort(results.begin(), results.end(),
            [](const auto& a, const auto& b) { return a.first < b.first; });
  ASSERT_TRUE(results[0].second.Address.has_value());
  EXPECT_EQ(FormatAddress(*results[0].second.Address), "127.0.0.1");
  EXPECT_FALSE(results[1].second.Address.has_value());

  ExitEvent exitEvent;
  EXPECT_EQ(ResolveIPv4Until("127.0.0.9", exitEvent)->Address->s_addr, htonl(0x7f000009));
  exitEvent.Signal();
  EXPECT_FALSE(ResolveIPv4Until("localhost", exitEvent).has_value());
}

}  // namespace
}  // namespace tenvar::platform
