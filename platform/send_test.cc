#include "platform/send.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <future>
#include <string>
#include <thread>

#include "platform/unique_fd.h"

namespace tenvar::platform {
namespace {

struct SocketPair {
  UniqueFd Sender;
  UniqueFd Receiver;
};

// A local stream pair with a small window so that large sends have to wait for the reader.
SocketPair SmallWindowPair() {
  int fds[2] = {-1, -1};
  EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, fds), 0);
  SocketPair pair{UniqueFd(fds[0]), UniqueFd(fds[1])};
  const int size = 4096;
  ::setsockopt(pair.Sender.Get(), SOL_SOCKET, SO_SNDBUF, &size, sizeof size);
  ::setsockopt(pair.Receiver.Get(), SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
  return pair;
}

std::string Pattern(std::size_t length) {
  std::string text(length, '\0');
  std::uint32_t state = 12345;
  for (char& c : text) {
    state = state * 1103515245u + 12345u;
    c = static_cast<char>(state >> 16);
  }
  return text;
}

// Reads until `length` bytes arrived or the peer closed; waits in poll, at most 10 s a gap.
std::string ReadAll(int fd, std::size_t length) {
  std::string received;
  char buffer[16384];
  while (received.size() < length) {
    pollfd entry{fd, POLLIN, 0};
    if (::poll(&entry, 1, 10000) != 1) break;
    const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
    if (n <= 0) break;
    received.append(buffer, static_cast<std::size_t>(n));
  }
  return received;
}

TEST(Send, WaitsForTheReaderAndDeliversEveryByteInOrder) {
  SocketPair pair = SmallWindowPair();
  ExitEvent exitEvent;
  const std::string payload = Pattern(4 << 20);
  std::future<int> sent = std::async(std::launch::async, [&] {
    return SendString(pair.Sender.Get(), payload, exitEvent);
  });
  // The window is far smaller than the payload: the sender cannot be done before we read.
  EXPECT_EQ(sent.wait_for(std::chrono::milliseconds(100)), std::future_status::timeout);
  const std::string received = ReadAll(pair.Receiver.Get(), payload.size());
  EXPECT_EQ(sent.get(), 0);
  ASSERT_EQ(received.size(), payload.size());
  EXPECT_TRUE(received == payload);
}

TEST(Send, ABlockedSendGivesUpWhenTheExitEventIsSignalled) {
  SocketPair pair = SmallWindowPair();
  ExitEvent exitEvent;
  const std::string payload = Pattern(4 << 20);
  std::future<int> sent = std::async(std::launch::async, [&] {
    return SendString(pair.Sender.Get(), payload, exitEvent);
  });
  ASSERT_EQ(sent.wait_for(std::chrono::milliseconds(100)), std::future_status::timeout);
  exitEvent.Signal();
  ASSERT_EQ(sent.wait_for(std::chrono::seconds(5)), std::future_status::ready);
  EXPECT_EQ(sent.get(), -1);
}

TEST(Send, NothingIsSentOnceTheExitEventIsSignalled) {
  SocketPair pair = SmallWindowPair();
  ExitEvent exitEvent;
  exitEvent.Signal();
  EXPECT_EQ(SendString(pair.Sender.Get(), "data", exitEvent), -1);
  char byte = 0;
  EXPECT_EQ(::recv(pair.Receiver.Get(), &byte, 1, 0), -1);
  EXPECT_EQ(errno, EAGAIN);
}

TEST(Send, AClosedPeerFailsTheSendWithoutASignal) {
  SocketPair pair = SmallWindowPair();
  ExitEvent exitEvent;
  pair.Receiver.Reset();
  EXPECT_EQ(SendString(pair.Sender.Get(), "data", exitEvent), -1);
  EXPECT_TRUE(pair.Sender.Valid());
}

TEST(Send, APeerThatClosesWhileTheSendWaitsFailsIt) {
  SocketPair pair = SmallWindowPair();
  ExitEvent exitEvent;
  const std::string payload = Pattern(4 << 20);
  std::future<int> sent = std::async(std::launch::async, [&] {
    return SendString(pair.Sender.Get(), payload, exitEvent);
  });
  ASSERT_EQ(sent.wait_for(std::chrono::milliseconds(100)), std::future_status::timeout);
  pair.Receiver.Reset();
  ASSERT_EQ(sent.wait_for(std::chrono::seconds(5)), std::future_status::ready);
  EXPECT_EQ(sent.get(), -1);
}

TEST(Send, NulBytesAreSentAndNothingToSendSucceeds) {
  SocketPair pair = SmallWindowPair();
  ExitEvent exitEvent;
  const std::string text("a\0b\0\0c", 6);
  EXPECT_EQ(SendString(pair.Sender.Get(), text, exitEvent), 0);
  EXPECT_EQ(SendString(pair.Sender.Get(), "", exitEvent), 0);
  EXPECT_EQ(SendBuffer(pair.Sender.Get(), std::span<const char>(), exitEvent), 0);
  const char tail[] = {'\0', 'z'};
  EXPECT_EQ(SendBuffer(pair.Sender.Get(), std::span<const char>(tail), exitEvent), 0);
  EXPECT_EQ(ReadAll(pair.Receiver.Get(), 8), std::string("a\0b\0\0c\0z", 8));
}

TEST(Send, SendWithinDeliversToAReaderAndGivesUpOnOneThatStopsReading) {
  ExitEvent exitEvent;
  const std::string payload = Pattern(1 << 20);
  SocketPair reading = SmallWindowPair();
  std::future<std::string> received = std::async(
      std::launch::async, [&] { return ReadAll(reading.Receiver.Get(), payload.size()); });
  EXPECT_TRUE(SendWithin(reading.Sender.Get(), payload, exitEvent, std::chrono::seconds(10)));
  EXPECT_EQ(received.get(), payload);

  SocketPair stalled = SmallWindowPair();
  EXPECT_FALSE(SendWithin(stalled.Sender.Get(), payload, exitEvent, std::chrono::milliseconds(50)));
}

}  // namespace
}  // namespace tenvar::platform
