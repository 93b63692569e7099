// IP tunnels: a local port whose connections are relayed, byte for byte and both ways, to a
// fixed server.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include "tests/e2e/office_fixture.h"
#include "tests/support/loopback.h"

namespace tenvar::e2e {
namespace {

using namespace tenvar::test;

constexpr int kWebTunnel = 2525;      // to nginx
constexpr int kPlainTunnel = 2526;    // to the test's own listening socket
constexpr int kDeadTunnel = 2527;     // to a port nobody listens on
constexpr int kUnnamedTunnel = 2528;  // to a name nobody knows
constexpr int kPlainServerPort = 8090;

class Tunnel : public OfficeTest {
 protected:
  // Starts tenvar with the given tunnels and waits until each listens.
  void StartTunnels(const std::vector<config::IpTunnelConfig>& tunnels) {
    ASSERT_NO_FATAL_FAILURE(StartTenvar({.Tunnels = tunnels}));
    for (const config::IpTunnelConfig& tunnel : tunnels) {
      ASSERT_TRUE(
          tenvar_->WaitForConsole("IP Tunnel listening on port " + std::to_string(tunnel.Listen)))
          << tenvar_->ConsoleSoFar();
    }
  }
};

// A client that ends its sending after its question, as request/answer protocols do, gets
// the whole answer, which its server sends only once it has seen that end. Both relays:
// an IP tunnel, and a CONNECT tunnel through the HTTP proxy.
TEST_F(Tunnel, AClientThatEndsItsSendingGetsTheWholeAnswer) {
  const platform::UniqueFd listener = ListenOnLoopback(kPlainServerPort);
  ASSERT_TRUE(listener.Valid());
  ASSERT_NO_FATAL_FAILURE(StartTunnels({{kPlainServerPort, "127.0.0.1", kPlainTunnel}}));
  std::string answer(1 << 20, '\0');
  for (std::size_t i = 0; i < answer.size(); ++i) answer[i] = static_cast<char>(i * 7 / 5);
  const std::string connect = "CONNECT 127.0.0.1:" + std::to_string(kPlainServerPort) +
                              " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
  const std::string established = "HTTP/1.0 200 Connection established\r\n";
  for (const bool throughConnect : {false, true}) {
    SCOPED_TRACE(throughConnect ? "CONNECT" : "IP tunnel");
    const platform::UniqueFd client = ConnectTo(throughConnect ? kProxyPort : kPlainTunnel);
    ASSERT_TRUE(client.Valid());
    ASSERT_TRUE(SendAll(client.Get(), (throughConnect ? connect : "") + "question"));
    ASSERT_EQ(::shutdown(client.Get(), SHUT_WR), 0);
    platform::UniqueFd server = AcceptWithin(listener.Get(), 5s);
    ASSERT_TRUE(server.Valid());
    bool closed = false;
    EXPECT_EQ(ReadUntilClosed(server.Get(), 5s, &closed), "question");
    ASSERT_TRUE(closed) << "the client's end did not arrive";
    ASSERT_TRUE(SendAll(server.Get(), answer));
    server.Reset();
    std::string received = ReadUntilClosed(client.Get(), 10s, &closed);
    EXPECT_TRUE(closed);
    if (throughConnect) {
      ASSERT_TRUE(received.starts_with(established)) << received.substr(0, 100);
      received.erase(0, received.find("\r\n\r\n") + 4);
    }
    EXPECT_EQ(received.size(), answer.size());
    EXPECT_TRUE(received == answer) << "the answer differs";
  }
}

// A tunnel reaches its server by address or by name. One whose server cannot be reached or
// named closes its client and is logged, holding up neither other tunnels nor the proxy.
TEST_F(Tunnel, RelaysAsSentAndAnUnreachableServerHoldsUpNeitherOtherTunnelsNorTheProxy) {
  ASSERT_NO_FATAL_FAILURE(StartTunnels({{9, "127.0.0.1", kDeadTunnel},
                                        {80, "no-such-host.invalid", kUnnamedTunnel},
                                        {OriginServer::kPort, "localhost", kWebTunnel}}));
  const platform::UniqueFd web = ConnectTo(kWebTunnel);
  ASSERT_TRUE(web.Valid());
  const platform::UniqueFd dead = ConnectTo(kDeadTunnel);
  const platform::UniqueFd unnamed = ConnectTo(kUnnamedTunnel);
  ASSERT_TRUE(dead.Valid() && unnamed.Valid());
  SendAll(dead.Get(), "GET / HTTP/1.0\r\n\r\n");

  ASSERT_TRUE(SendAll(web.Get(), "GET /small.txt HTTP/1.0\r\n\r\n"));
  const RawReply reply = SplitReply(ReadUntilClosed(web.Get(), 5s));
  EXPECT_EQ(reply.StatusLine, "HTTP/1.1 200 OK");
  EXPECT_EQ(reply.Body, origin_->Content("small.txt"));
  // The server saw the request exactly as sent, not as a proxy request.
  EXPECT_TRUE(origin_->WaitForLog("GET /small.txt HTTP/1.0|")) << origin_->Log();
  const CurlResult proxied = Fetch({OriginServer::Url("/small.txt")});
  EXPECT_EQ(proxied.Status, 200) << proxied.Stderr;

  for (const platform::UniqueFd* client : {&dead, &unnamed}) {
    bool closed = false;
    EXPECT_EQ(ReadUntilClosed(client->Get(), 10s, &closed), "");
    EXPECT_TRUE(closed) << "the connection to the unreachable server stayed open";
  }
  EXPECT_TRUE(tenvar_->WaitForConsole("Tunnel to 127.0.0.1:9 failed: "));
  EXPECT_TRUE(tenvar_->WaitForConsole("Tunnel to no-such-host.invalid:80 failed: "));
}

}  // namespace
}  // namespace tenvar::e2e
