// Tunnels: a local port whose connections are relayed, byte for byte and both ways, to a
// fixed server, and CONNECT through the HTTP proxy, which hands over to the same relay.
#include <gtest/gtest.h>
#include <sys/socket.h>

#include "tests/e2e/office_fixture.h"
#include "tests/support/loopback.h"

namespace tenvar::e2e {
namespace {

using namespace tenvar::test;

constexpr int kWebTunnel = 2525;      // to nginx
constexpr int kDeadTunnel = 2527;     // to a port nobody listens on
constexpr int kUnnamedTunnel = 2528;  // to a name nobody knows
constexpr int kPlainServerPort = 8090;

using Tunnel = OfficeTest;

// A client that ends its sending after its question, as request/answer protocols do, gets
// the whole answer, which its server sends only once it has seen that end. The question
// comes with the CONNECT, as a client that does not wait for the proxy's answer sends it.
TEST_F(Tunnel, AClientThatEndsItsSendingThroughConnectGetsTheWholeAnswer) {
  const platform::UniqueFd listener = ListenOnLoopback(kPlainServerPort);
  ASSERT_TRUE(listener.Valid());
  ASSERT_NO_FATAL_FAILURE(StartTenvar());
  const std::string answer = RandomBytes(1 << 20, 1);
  const platform::UniqueFd client = ConnectTo(kProxyPort);
  ASSERT_TRUE(client.Valid());
  ASSERT_TRUE(SendAll(client.Get(), "CONNECT 127.0.0.1:" + std::to_string(kPlainServerPort) +
                                        " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\nquestion"));
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
  ASSERT_TRUE(received.starts_with("HTTP/1.0 200 Connection established\r\n"))
      << received.substr(0, 100);
  received.erase(0, received.find("\r\n\r\n") + 4);
  EXPECT_EQ(received.size(), answer.size());
  EXPECT_TRUE(received == answer) << "the answer differs";
}

// A tunnel reaches its server by address or by name. One whose server cannot be reached or
// named closes its client and is logged, holding up neither other tunnels nor the proxy.
TEST_F(Tunnel, RelaysAsSentAndAnUnreachableServerHoldsUpNeitherOtherTunnelsNorTheProxy) {
  const std::vector<config::IpTunnelConfig> tunnels = {
      {9, "127.0.0.1", kDeadTunnel},
      {80, "no-such-host.invalid", kUnnamedTunnel},
      {OriginServer::kPort, "localhost", kWebTunnel}};
  ASSERT_NO_FATAL_FAILURE(StartTenvar({.Tunnels = tunnels}));
  for (const config::IpTunnelConfig& tunnel : tunnels) {
    ASSERT_TRUE(
        tenvar_->WaitForConsole("IP Tunnel listening on port " + std::to_string(tunnel.Listen)));
  }
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
