#include "platform/socket.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>

#include "platform/exit_event.h"

namespace tenvar::platform {
namespace {

in_addr Loopback() { return in_addr{htonl(INADDR_LOOPBACK)}; }

// A port on which nothing listens: bound for a moment, then released.
std::uint16_t ClosedPort() {
  int error = 0;
  UniqueFd listener = OpenTcpListener(0, error);
  return LocalPort(listener.Get());
}

bool Readable(int fd, int timeoutMs) {
  pollfd entry{fd, POLLIN, 0};
  return ::poll(&entry, 1, timeoutMs) == 1;
}

TEST(Socket, ListenerOnAnyPortAcceptsALoopbackConnection) {
  int error = -1;
  UniqueFd listener = OpenTcpListener(0, error);
  ASSERT_TRUE(listener.Valid()) << error;
  EXPECT_EQ(error, 0);
  const std::uint16_t port = LocalPort(listener.Get());
  ASSERT_NE(port, 0);
  EXPECT_FALSE(AcceptConnection(listener.Get()).has_value());  // nothing pending yet

  UniqueFd client = StartConnect(Loopback(), port, error);
  ASSERT_TRUE(client.Valid()) << error;
  ASSERT_TRUE(ConnectWithin(client.Get(), std::chrono::seconds(10), -1, error)) << error;
  ASSERT_TRUE(Readable(listener.Get(), 10000));
  std::optional<AcceptedConnection> accepted = AcceptConnection(listener.Get());
  ASSERT_TRUE(accepted.has_value());
  EXPECT_TRUE(accepted->Fd.Valid());
  EXPECT_EQ(FormatAddress(accepted->Peer), "127.0.0.1");
  EXPECT_EQ(::send(client.Get(), "x", 1, MSG_NOSIGNAL), 1);
  ASSERT_TRUE(Readable(accepted->Fd.Get(), 10000));
  char byte = 0;
  EXPECT_EQ(::recv(accepted->Fd.Get(), &byte, 1, 0), 1);
  EXPECT_EQ(byte, 'x');
}

TEST(Socket, ASecondListenerOnATakenPortReportsTheError) {
  int error = 0;
  UniqueFd first = OpenTcpListener(0, error);
  ASSERT_TRUE(first.Valid());
  UniqueFd second = OpenTcpListener(LocalPort(first.Get()), error);
  EXPECT_FALSE(second.Valid());
  EXPECT_EQ(error, EADDRINUSE);
}

TEST(Socket, FormatsTheBytesInNetworkOrder) {
  in_addr address{};
  ASSERT_EQ(::inet_pton(AF_INET, "10.200.3.255", &address), 1);
  EXPECT_EQ(FormatAddress(address), "10.200.3.255");
  EXPECT_EQ(FormatAddress(in_addr{htonl(INADDR_ANY)}), "0.0.0.0");
}

TEST(Socket, DottedTextIsTakenAsItIsAndNamesAreLookedUp) {
  const Resolution dotted = ResolveIPv4("127.0.0.1");
  ASSERT_TRUE(dotted.Address.has_value());
  EXPECT_EQ(FormatAddress(*dotted.Address), "127.0.0.1");
  EXPECT_EQ(dotted.Error, 0);

  const Resolution named = ResolveIPv4("localhost");
  ASSERT_TRUE(named.Address.has_value()) << gai_strerror(named.Error);
  EXPECT_EQ(FormatAddress(*named.Address).rfind("127.", 0), 0u);

  const Resolution unknown = ResolveIPv4("no-such-host.invalid");
  EXPECT_FALSE(unknown.Address.has_value());
  EXPECT_NE(unknown.Error, 0);

  EXPECT_FALSE(ParseIPv4("localhost").has_value());
  EXPECT_FALSE(ParseIPv4("1.2.3").has_value());
}

TEST(Socket, ConnectToAClosedLoopbackPortIsRefused) {
  int error = 0;
  UniqueFd client = StartConnect(Loopback(), ClosedPort(), error);
  if (!client.Valid()) {
    EXPECT_EQ(error, ECONNREFUSED);  // some stacks refuse at once
    return;
  }
  EXPECT_FALSE(ConnectWithin(client.Get(), std::chrono::seconds(10), -1, error));
  EXPECT_EQ(error, ECONNREFUSED);
}

TEST(Socket, ConnectWaitEndsAtTheTimeOrAtTheExitEvent) {
  // A listener whose queue is full and never accepted from leaves later connects pending.
  UniqueFd listener(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr = Loopback();
  ASSERT_EQ(::bind(listener.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(::listen(listener.Get(), 0), 0);
  const std::uint16_t port = LocalPort(listener.Get());
  int error = 0;
  UniqueFd filler = StartConnect(Loopback(), port, error);
  ASSERT_TRUE(ConnectWithin(filler.Get(), std::chrono::seconds(10), -1, error)) << error;

  UniqueFd pending = StartConnect(Loopback(), port, error);
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

TEST(Socket, UdpSocketsExchangeADatagramOnLoopback) {
  int error = 0;
  UniqueFd receiver = OpenUdpSocket(0, false, error);
  ASSERT_TRUE(receiver.Valid()) << error;
  UniqueFd sender = OpenUdpSocket(0, true, error);
  ASSERT_TRUE(sender.Valid()) << error;
  int broadcast = 0;
  socklen_t length = sizeof broadcast;
  ASSERT_EQ(::getsockopt(sender.Get(), SOL_SOCKET, SO_BROADCAST, &broadcast, &length), 0);
  EXPECT_NE(broadcast, 0);

  sockaddr_in target{};
  target.sin_family = AF_INET;
  target.sin_addr = Loopback();
  target.sin_port = htons(LocalPort(receiver.Get()));
  ASSERT_EQ(::sendto(sender.Get(), "hi", 2, 0, reinterpret_cast<sockaddr*>(&target),
                     sizeof target),
            2);
  ASSERT_TRUE(Readable(receiver.Get(), 10000));
  char text[8] = {};
  EXPECT_EQ(::recv(receiver.Get(), text, sizeof text, 0), 2);
  EXPECT_STREQ(text, "hi");
  EXPECT_EQ(::recv(receiver.Get(), text, sizeof text, 0), -1);  // non-blocking: nothing more
  EXPECT_EQ(errno, EAGAIN);
}

}  // namespace
}  // namespace tenvar::platform
