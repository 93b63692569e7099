#include "platform/send.h"

#include <gtest/gtest.h>
#include <sys/socket.h>

#include <cerrno>
#include <functional>
#include <future>
#include <string>

#include "platform/socket_pair_test_support.h"
#include "tests/support/loopback.h"

namespace tenvar::platform {
namespace {

using namespace std::chrono_literals;

TEST(Send, WaitsForTheReaderAndDeliversEveryByteInOrder) {
  SocketPair pair = SmallWindowPair();
  ExitEvent exitEvent;
  EXPECT_EQ(SendString(pair.Sender.Get(), "", exitEvent), 0);
  const std::string payload = test::RandomBytes(4 << 20, 1);
  std::future<int> sent = std::async(std::launch::async, [&] {
    return SendString(pair.Sender.Get(), payload, exitEvent);
  });
  // The window is far smaller than the payload: the sender cannot be done before we read.
  EXPECT_EQ(sent.wait_for(100ms), std::future_status::timeout);
  const std::string received = test::ReadExactly(pair.Receiver.Get(), payload.size());
  EXPECT_EQ(sent.get(), 0);
  ASSERT_EQ(received.size(), payload.size());
  EXPECT_TRUE(received == payload);
}

// Whether it comes before the send or while the send waits for the window, the exit event or
// a peer that went away fails the send; nothing is sent after the exit, and no SIGPIPE arrives.
TEST(Send, TheExitEventOrAClosedPeerFailsTheSend) {
  const struct {
    const char* name;
    bool whileWaiting;
    std::function<void(SocketPair&, const ExitEvent&)> interrupt;
  } cases[] = {
      {"exit before", false, [](SocketPair&, const ExitEvent& exit) { exit.Signal(); }},
      {"peer gone before", false,
       [](SocketPair& pair, const ExitEvent&) { pair.Receiver.Reset(); }},
      {"exit while waiting", true, [](SocketPair&, const ExitEvent& exit) { exit.Signal(); }},
      {"peer leaves while waiting", true,
       [](SocketPair& pair, const ExitEvent&) { pair.Receiver.Reset(); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SocketPair pair = SmallWindowPair();
    ExitEvent exitEvent;
    if (!c.whileWaiting) {
      c.interrupt(pair, exitEvent);
      EXPECT_EQ(SendString(pair.Sender.Get(), "data", exitEvent), -1);
      char byte = 0;
      if (pair.Receiver.Valid()) {
        EXPECT_EQ(::recv(pair.Receiver.Get(), &byte, 1, 0), -1);
        EXPECT_EQ(errno, EAGAIN);
      }
      continue;
    }
    const std::string payload = test::RandomBytes(4 << 20, 2);
    std::future<int> sent = std::async(
        std::launch::async, [&] { return SendString(pair.Sender.Get(), payload, exitEvent); });
    ASSERT_EQ(sent.wait_for(100ms), std::future_status::timeout);
    c.interrupt(pair, exitEvent);
    ASSERT_EQ(sent.wait_for(5s), std::future_status::ready);
    EXPECT_EQ(sent.get(), -1);
  }
}

TEST(Send, SendWithinDeliversToAReaderAndGivesUpOnOneThatStopsReading) {
  ExitEvent exitEvent;
  const std::string payload = test::RandomBytes(1 << 20, 3);
  SocketPair reading = SmallWindowPair();
  std::future<std::string> received = std::async(std::launch::async, [&] {
    return test::ReadExactly(reading.Receiver.Get(), payload.size());
  });
  EXPECT_TRUE(SendWithin(reading.Sender.Get(), payload, exitEvent, 10s));
  EXPECT_EQ(received.get(), payload);

  SocketPair stalled = SmallWindowPair();
  EXPECT_FALSE(SendWithin(stalled.Sender.Get(), payload, exitEvent, 50ms));
}

}  // namespace
}  // namespace tenvar::platform
