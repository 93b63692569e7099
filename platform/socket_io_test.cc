#include "platform/socket_io.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <string_view>

#include "platform/socket.h"
#include "platform/socket_pair_test_support.h"
#include "platform/wait.h"

namespace tenvar::platform {
namespace {

TEST(SocketIo, SendingToAPeerThatWentAwayFailsWithoutASignal) {
  SocketPair pair = SmallWindowPair();
  pair.Receiver.Reset();
  EXPECT_EQ(SendSome(pair.Sender.Get(), std::string_view("lost")).Error, EPIPE);
}

// A datagram longer than the buffer is reported with its whole length, so it can be refused.
TEST(SocketIo, ADatagramComesWithItsWholeLengthAndItsSender) {
  int error = 0;
  const UniqueFd receiver = OpenUdpSocket(0, false, error);
  const UniqueFd sender = OpenUdpSocket(0, false, error);
  ASSERT_TRUE(receiver.Valid() && sender.Valid()) << error;
  const in_addr loopback{htonl(INADDR_LOOPBACK)};
  ASSERT_TRUE(
      SendDatagram(sender.Get(), std::string_view("+machine"), loopback, LocalPort(receiver.Get()))
          .Ok());
  ASSERT_EQ(
      WaitFor(receiver.Get(), POLLIN, std::chrono::steady_clock::now() + std::chrono::seconds(10)),
      WaitResult::Ready);
  char start[3];
  const Datagram datagram = ReceiveDatagram(receiver.Get(), start);
  EXPECT_EQ(datagram.Length.Value, 8);
  ASSERT_TRUE(datagram.Source.has_value());
  EXPECT_EQ(datagram.Source->s_addr, loopback.s_addr);
}

}  // namespace
}  // namespace tenvar::platform
