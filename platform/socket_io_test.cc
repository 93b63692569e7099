#include "platform/socket_io.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <sys/socket.h>

#include <cerrno>
#include <string>
#include <string_view>

#include "platform/socket.h"
#include "platform/wait.h"

namespace tenvar::platform {
namespace {

struct SocketPair {
  SocketPair() {
    int fds[2];
    EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, fds), 0);
    One.Reset(fds[0]);
    Other.Reset(fds[1]);
  }
  UniqueFd One;
  UniqueFd Other;
};

TEST(SocketIo, ReceivesWhatWasSentThenTheEnd) {
  SocketPair pair;
  EXPECT_EQ(SendSome(pair.One.Get(), std::string_view("hello")).Value, 5);
  char block[16];
  const SysResult got = ReceiveSome(pair.Other.Get(), block);
  ASSERT_TRUE(got.Ok());
  EXPECT_EQ(std::string(block, static_cast<std::size_t>(got.Value)), "hello");
  EXPECT_EQ(ReceiveSome(pair.Other.Get(), block).Error, EAGAIN);
  ShutdownSending(pair.One.Get());
  const SysResult end = ReceiveSome(pair.Other.Get(), block);
  EXPECT_TRUE(end.Ok());
  EXPECT_EQ(end.Value, 0);
}

TEST(SocketIo, SendingToAPeerThatWentAwayFailsWithoutASignal) {
  SocketPair pair;
  pair.Other.Reset();
  EXPECT_EQ(SendSome(pair.One.Get(), std::string_view("lost")).Error, EPIPE);
}

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
