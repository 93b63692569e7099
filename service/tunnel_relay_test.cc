#include "service/tunnel_relay.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <sys/socket.h>

#include <atomic>
#include <future>
#include <string>
#include <thread>

#include "platform/socket.h"
#include "tests/support/loopback.h"

namespace tenvar::service {
namespace {

using platform::UniqueFd;
using test::ReadExactly;
using test::SeesClose;
using test::SendAll;

std::uint16_t PortOf(const UniqueFd& fd) { return platform::LocalPort(fd.Get()); }

// Both ends of one loopback connection: the test keeps Near, the relay gets Far.
struct Connection {
  UniqueFd Near;
  UniqueFd Far;
};

constexpr int kSmallBuffers = 32 << 10;

// `buffers`, when given, are set on both ends, on the near one before it connects, so that
// the window is small. The near end blocks, but gives up after the patience, so a relay that
// stalls fails a test instead of hanging it.
Connection LoopbackConnection(int buffers = 0) {
  const UniqueFd listener = test::ListenOnLoopback();
  Connection connection{UniqueFd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)), UniqueFd()};
  const timeval patience{test::kPatience.count() / 1000, 0};
  ::setsockopt(connection.Near.Get(), SOL_SOCKET, SO_RCVTIMEO, &patience, sizeof patience);
  ::setsockopt(connection.Near.Get(), SOL_SOCKET, SO_SNDTIMEO, &patience, sizeof patience);
  const auto setBuffers = [buffers](const UniqueFd& fd) {
    if (buffers == 0) return;
    ::setsockopt(fd.Get(), SOL_SOCKET, SO_RCVBUF, &buffers, sizeof buffers);
    ::setsockopt(fd.Get(), SOL_SOCKET, SO_SNDBUF, &buffers, sizeof buffers);
  };
  setBuffers(connection.Near);
  const sockaddr_in address = test::LoopbackAddress(PortOf(listener));
  EXPECT_EQ(
      ::connect(connection.Near.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address),
      0);
  connection.Far = test::AcceptWithin(listener.Get());
  setBuffers(connection.Far);
  return connection;
}

class TunnelRelayTest : public ::testing::Test {
 protected:
  void TearDown() override {
    exitEvent.Signal();
    if (runner.joinable()) runner.join();
  }

  platform::ExitEvent exitEvent;
  std::atomic<int> idleResets{0};
  TunnelRelay relay{exitEvent, [this] { ++idleResets; }, nullptr};
  std::jthread runner{[this] { relay.Run(); }};
};

// Small buffers make the relay's sends partial, also those of bytes it had to keep.
TEST_F(TunnelRelayTest, RelaysFourMebibytesEachWayAtOnceUnchanged) {
  Connection client = LoopbackConnection(kSmallBuffers);
  Connection server = LoopbackConnection(kSmallBuffers);
  relay.AddLink(std::move(client.Far), std::move(server.Far));

  const std::string up = test::RandomBytes(4 << 20, 1);
  const std::string down = test::RandomBytes(4 << 20, 2);
  std::string atServer;
  std::string atClient;
  {
    std::jthread upSender([&] { SendAll(client.Near.Get(), up); });
    std::jthread downSender([&] { SendAll(server.Near.Get(), down); });
    std::jthread upReceiver([&] { atServer = ReadExactly(server.Near.Get(), up.size()); });
    atClient = ReadExactly(client.Near.Get(), down.size());
  }
  ASSERT_EQ(atServer.size(), up.size());
  EXPECT_TRUE(atServer == up);
  ASSERT_EQ(atClient.size(), down.size());
  EXPECT_TRUE(atClient == down);
  EXPECT_GE(idleResets.load(), 2 * 4 * 16);  // at least one read per 64 KiB each way
  EXPECT_EQ(relay.LinkCount(), 1u);
}

// The server may end its sending first (a client's end, which request/answer protocols send,
// is passed on in the whole-program tunnel tests): the client sees the end after the last
// bytes, can still answer in full, and the link ends once both have ended.
TEST_F(TunnelRelayTest, AnEndOfSendingIsPassedOnAndTheAnswerStillArrives) {
  Connection client = LoopbackConnection();
  Connection server = LoopbackConnection();
  relay.AddLink(std::move(client.Far), std::move(server.Far));
  const std::string answer = test::RandomBytes(1 << 20, 7);
  ASSERT_TRUE(SendAll(server.Near.Get(), "last words"));
  ASSERT_EQ(::shutdown(server.Near.Get(), SHUT_WR), 0);
  EXPECT_EQ(ReadExactly(client.Near.Get(), 10), "last words");
  EXPECT_TRUE(SeesClose(client.Near.Get()));
  ASSERT_TRUE(SendAll(client.Near.Get(), answer));
  ASSERT_EQ(::shutdown(client.Near.Get(), SHUT_WR), 0);
  EXPECT_EQ(ReadExactly(server.Near.Get(), answer.size()), answer);
  EXPECT_TRUE(SeesClose(server.Near.Get()));
  EXPECT_EQ(relay.LinkCount(), 0u);  // the link is gone before its sockets close
}

// Neither a connect still under way nor a slow reader holds up another link; on exit every
// link closes, waiting ones too, and a link added after that is closed at once.
TEST_F(TunnelRelayTest, AServerStillConnectingOrASlowReaderHoldsUpNoOtherLinkAndExitClosesAll) {
  // A listener with a full queue that is never accepted from leaves a connect pending.
  UniqueFd silent = test::ListenOnLoopback(0, 0);
  UniqueFd filler = test::ConnectTo(PortOf(silent));
  int error = 0;
  UniqueFd probe = platform::StartConnect(in_addr{htonl(INADDR_LOOPBACK)}, PortOf(silent), error);
  if (platform::ConnectWithin(probe.Get(), std::chrono::milliseconds(100), -1, error)) {
    GTEST_SKIP() << "this network stack completes connects beyond a full listen queue";
  }
  probe.Reset();

  Connection waiting = LoopbackConnection();
  relay.AddTunnel(std::move(waiting.Far), "127.0.0.1", PortOf(silent));
  Connection givesUp = LoopbackConnection();
  relay.AddTunnel(std::move(givesUp.Far), "127.0.0.1", PortOf(silent));
  Connection slowClient = LoopbackConnection(kSmallBuffers);
  Connection slowServer = LoopbackConnection(kSmallBuffers);
  relay.AddLink(std::move(slowClient.Far), std::move(slowServer.Far));
  const std::string flood = test::RandomBytes(8 << 20, 4);
  std::future<bool> flooding =
      std::async(std::launch::async, [&] { return SendAll(slowServer.Near.Get(), flood); });

  Connection client = LoopbackConnection();
  Connection server = LoopbackConnection();
  relay.AddLink(std::move(client.Far), std::move(server.Far));
  const std::string text = test::RandomBytes(1 << 20, 5);
  ASSERT_TRUE(SendAll(client.Near.Get(), text));
  EXPECT_EQ(ReadExactly(server.Near.Get(), text.size()), text);
  ASSERT_TRUE(SendAll(server.Near.Get(), text));
  EXPECT_EQ(ReadExactly(client.Near.Get(), text.size()), text);
  EXPECT_EQ(relay.LinkCount(), 4u);
  // Nobody has read the slow link yet, so its sender is still held back.
  EXPECT_EQ(flooding.wait_for(std::chrono::milliseconds(0)), std::future_status::timeout);
  const std::string received = ReadExactly(slowClient.Near.Get(), flood.size());
  EXPECT_TRUE(flooding.get());
  ASSERT_EQ(received.size(), flood.size());
  EXPECT_TRUE(received == flood);

  // A waiting client that gives up with a reset: its link ends without the server answering.
  const linger abort{1, 0};
  ::setsockopt(givesUp.Near.Get(), SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
  givesUp.Near.Reset();
  for (int tries = 0; relay.LinkCount() != 3 && tries < 2000; ++tries) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  EXPECT_EQ(relay.LinkCount(), 3u);

  const auto start = std::chrono::steady_clock::now();
  exitEvent.Signal();
  runner.join();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
  EXPECT_EQ(relay.LinkCount(), 0u);
  for (const UniqueFd* end : {&client.Near, &server.Near, &waiting.Near, &slowClient.Near}) {
    EXPECT_TRUE(SeesClose(end->Get()));
  }
  Connection late = LoopbackConnection();
  Connection lateServer = LoopbackConnection();
  relay.AddLink(std::move(late.Far), std::move(lateServer.Far));
  EXPECT_EQ(relay.LinkCount(), 0u);
  EXPECT_TRUE(SeesClose(late.Near.Get()));
}

}  // namespace
}  // namespace tenvar::service
