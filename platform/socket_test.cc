#include "platform/socket.h"

#include <gtest/gtest.h>

#include <cerrno>

#include "platform/exit_event.h"
#include "tests/support/loopback.h"

namespace tenvar::platform {
namespace {

// Without SO_REUSEPORT a port taken by another copy or program is refused, not shared.
TEST(Socket, ASecondListenerOnATakenPortReportsTheError) {
  int error = 0;
  UniqueFd first = OpenTcpListener(0, error);
  ASSERT_TRUE(first.Valid());
  UniqueFd second = OpenTcpListener(LocalPort(first.Get()), error);
  EXPECT_FALSE(second.Valid());
  EXPECT_EQ(error, EADDRINUSE);
}

TEST(Socket, OnlyFourDottedNumbersAreAnAddress) {
  ASSERT_TRUE(ParseIPv4("10.200.3.255").has_value());
  EXPECT_EQ(FormatAddress(*ParseIPv4("10.200.3.255")), "10.200.3.255");
  EXPECT_FALSE(ParseIPv4("localhost").has_value());
  EXPECT_FALSE(ParseIPv4("1.2.3").has_value());
}

TEST(Socket, ConnectWaitEndsAtTheTimeOrAtTheExitEvent) {
  // A listener whose queue is full and never accepted from leaves later connects pending.
  UniqueFd listener = test::ListenOnLoopback(0, 0);
  ASSERT_TRUE(listener.Valid());
  const std::uint16_t port = LocalPort(listener.Get());
  int error = 0;
  UniqueFd filler = StartConnect(test::Loopback(), port, error);
  ASSERT_TRUE(ConnectWithin(filler.Get(), std::chrono::seconds(10), -1, error)) << error;

  UniqueFd pending = StartConnect(test::Loopback(), port, error);
  ASSERT_TRUE(pending.Valid());
  const auto start = std::chrono::steady_clock::now();
  if (ConnectWithin(pending.Get(), std::chrono::milliseconds(200), -1, error)) {
    GTEST_SKIP() << "this network stack completes connects beyond a full listen queue";
  }
  EXPECT_EQ(error, ETIMEDOUT);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(190));

  ExitEvent exitEvent;
  exitEvent.Signal();
  EXPECT_FALSE(ConnectWithin(pending.Get(), std::chrono::seconds(30), exitEvent.Fd(), error));
  EXPECT_EQ(error, ECANCELED);
}

}  // namespace
}  // namespace tenvar::platform
