#include "platform/name_lookups.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

namespace tenvar::platform {
namespace {

TEST(ResolveIPv4Until, TakesDottedTextAsItIsAndGivesUpAtTheExitEvent) {
  ExitEvent exitEvent;
  EXPECT_EQ(ResolveIPv4Until("127.0.0.9", exitEvent)->Address->s_addr, htonl(0x7f000009));
  exitEvent.Signal();
  EXPECT_FALSE(ResolveIPv4Until("localhost", exitEvent).has_value());
}

}  // namespace
}  // namespace tenvar::platform
