// Sockets, what is sent through them, the names they connect to and the wake-ups waited on
// beside them.
#include "platform/socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>

#include <cerrno>
#include <future>
#include <string>
#include <string_view>

#include "platform/exit_event.h"
#include "platform/name_lookups.h"
#include "platform/send.h"
#include "platform/send_file.h"
#include "platform/socket_io.h"
#include "platform/temp_dir.h"
#include "platform/wait.h"
#include "platform/wake_event.h"
#include "tests/support/loopback.h"

namespace tenvar::platform {
namespace {

using namespace std::chrono_literals;

// A connected local stream pair, non-blocking at both ends. The window is small so that a
// send of a few MiB has to wait for the reader many times.
struct SocketPair {
  UniqueFd Sender;
  UniqueFd Receiver;
};

SocketPair SmallWindowPair() {
  int fds[2] = {-1, -1};
  EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, fds), 0);
  const int size = 4096;
  ::setsockopt(fds[0], SOL_SOCKET, SO_SNDBUF, &size, sizeof size);
  ::setsockopt(fds[1], SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
  return {UniqueFd(fds[0]), UniqueFd(fds[1])};
}

// Without SO_REUSEPORT a port taken by another copy or program is refused, not shared.
TEST(Socket, ASecondListenerOnATakenPortReportsTheError) {
  int error = 0;
  UniqueFd first = OpenTcpListener(0, error);
  ASSERT_TRUE(first.Valid());
  UniqueFd second = OpenTcpListener(LocalPort(first.Get()), error);
  EXPECT_FALSE(second.Valid());
  EXPECT_EQ(error, EADDRINUSE);
}

// Dotted text is taken as it is, without a look-up.
TEST(Socket, OnlyFourDottedNumbersAreAnAddress) {
  ASSERT_TRUE(ParseIPv4("10.200.3.255").has_value());
  EXPECT_EQ(FormatAddress(*ParseIPv4("10.200.3.255")), "10.200.3.255");
  EXPECT_FALSE(ParseIPv4("localhost").has_value());
  EXPECT_FALSE(ParseIPv4("1.2.3").has_value());
  ExitEvent exitEvent;
  EXPECT_EQ(ResolveIPv4Until("127.0.0.9", exitEvent)->Address->s_addr, htonl(0x7f000009));
  exitEvent.Signal();
  EXPECT_FALSE(ResolveIPv4Until("localhost", exitEvent).has_value());
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

// A datagram longer than the buffer is reported with its whole length, so it can be refused.
TEST(SocketIo, ADatagramComesWithItsWholeLengthAndItsSender) {
  int error = 0;
  const UniqueFd receiver = OpenUdpSocket(0, false, error);
  const UniqueFd sender = OpenUdpSocket(0, false, error);
  ASSERT_TRUE(receiver.Valid() && sender.Valid()) << error;
  ASSERT_TRUE(SendDatagram(sender.Get(), std::string_view("+machine"), test::Loopback(),
                           LocalPort(receiver.Get()))
                  .Ok());
  ASSERT_EQ(WaitFor(receiver.Get(), POLLIN, std::chrono::steady_clock::now() + 10s),
            WaitResult::Ready);
  char start[3];
  const Datagram datagram = ReceiveDatagram(receiver.Get(), start);
  EXPECT_EQ(datagram.Length.Value, 8);
  ASSERT_TRUE(datagram.Source.has_value());
  EXPECT_EQ(datagram.Source->s_addr, test::Loopback().s_addr);
}

// A send waits for the reader (SendWithin's, serving large cached items, is the cache's
// end-to-end tests'); SendWithin gives up on one that stops reading.
TEST(Send, WaitsForTheReaderAndDeliversEveryByteInOrder) {
  ExitEvent exitEvent;
  const std::string payload = test::RandomBytes(4 << 20, 1);
  SocketPair pair = SmallWindowPair();
  std::future<bool> sent = std::async(std::launch::async, [&] {
    return SendString(pair.Sender.Get(), "", exitEvent) == 0 &&
           SendString(pair.Sender.Get(), payload, exitEvent) == 0;
  });
  // The window is far smaller than the payload: the sender cannot be done before we read.
  EXPECT_EQ(sent.wait_for(100ms), std::future_status::timeout);
  const std::string received = test::ReadExactly(pair.Receiver.Get(), payload.size());
  EXPECT_TRUE(sent.get());
  EXPECT_TRUE(received == payload) << received.size() << " bytes";
  SocketPair stalled = SmallWindowPair();
  EXPECT_FALSE(SendWithin(stalled.Sender.Get(), payload, exitEvent, 50ms));
}

// Whether it comes before the send or while the send waits for the window, the exit event or
// a peer that went away fails the send (SendSome's too); nothing is sent after the exit, and no
// SIGPIPE arrives.
TEST(Send, TheExitEventOrAClosedPeerFailsTheSend) {
  for (const bool whileWaiting : {false, true}) {
    for (const bool exit : {true, false}) {
      SCOPED_TRACE(std::string(exit ? "exit" : "peer gone") +
                   (whileWaiting ? " while waiting" : ""));
      SocketPair pair = SmallWindowPair();
      ExitEvent exitEvent;
      const auto interrupt = [&] { exit ? exitEvent.Signal() : pair.Receiver.Reset(); };
      if (!whileWaiting) {
        interrupt();
        EXPECT_EQ(SendString(pair.Sender.Get(), "data", exitEvent), -1);
        char byte = 0;
        if (pair.Receiver.Valid()) {
          EXPECT_EQ(::recv(pair.Receiver.Get(), &byte, 1, 0), -1);
          EXPECT_EQ(errno, EAGAIN);
        } else {
          EXPECT_EQ(SendSome(pair.Sender.Get(), std::string_view("lost")).Error, EPIPE);
        }
        continue;
      }
      const std::string payload = test::RandomBytes(4 << 20, 2);
      std::future<int> sent = std::async(
          std::launch::async, [&] { return SendString(pair.Sender.Get(), payload, exitEvent); });
      ASSERT_EQ(sent.wait_for(100ms), std::future_status::timeout);
      interrupt();
      ASSERT_EQ(sent.wait_for(5s), std::future_status::ready);
      EXPECT_EQ(sent.get(), -1);
    }
  }
}

TEST(SendFile, DeliversTheAskedPartInOrderOrSaysWhyItStopped) {
  TempDir dir;
  const std::string content = test::RandomBytes(3 << 20, 4);
  const UniqueFd file(::open(dir.Write("item", content).c_str(), O_RDONLY | O_CLOEXEC));
  ASSERT_TRUE(file.Valid());
  ExitEvent exitEvent;
  const struct {
    const char* name;
    std::size_t offset;
    std::size_t length;
    FileSendResult result;
    std::size_t delivered;
  } cases[] = {
      {"inside the file", 1000, content.size() - 2000, FileSendResult::Sent, content.size() - 2000},
      {"beyond its end", content.size() - 10, 20, FileSendResult::FileEnded, 10},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SocketPair pair = SmallWindowPair();
    std::future<std::string> received = std::async(
        std::launch::async, [&] { return test::ReadUntilClosed(pair.Receiver.Get(), 10s); });
    EXPECT_EQ(SendFileWithin(pair.Sender.Get(), file.Get(), c.offset, c.length, exitEvent, 10s),
              c.result);
    pair.Sender.Reset();
    EXPECT_TRUE(received.get() == content.substr(c.offset, c.delivered));
  }

  // A reader that stops reading is given up on; the exit event stops the send.
  SocketPair stalled = SmallWindowPair();
  EXPECT_EQ(SendFileWithin(stalled.Sender.Get(), file.Get(), 0, content.size(), exitEvent, 50ms),
            FileSendResult::Stalled);
  exitEvent.Signal();
  EXPECT_EQ(SendFileWithin(SmallWindowPair().Sender.Get(), file.Get(), 0, 10, exitEvent, 10s),
            FileSendResult::Exit);
}

TEST(WakeEvent, IsReadableFromTheFirstWakeUntilCleared) {
  const WakeEvent wake;
  ASSERT_TRUE(wake.Valid());
  const auto soon = [] { return std::chrono::steady_clock::now() + 1ms; };
  EXPECT_EQ(WaitFor(wake.Fd(), POLLIN, soon()), WaitResult::TimedOut);
  wake.Wake();
  wake.Wake();
  EXPECT_EQ(WaitFor(wake.Fd(), POLLIN, soon()), WaitResult::Ready);
  wake.Clear();
  EXPECT_EQ(WaitFor(wake.Fd(), POLLIN, soon()), WaitResult::TimedOut);
}

}  // namespace
}  // namespace tenvar::platform
