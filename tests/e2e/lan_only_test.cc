// Only machines of the LAN are served: a connection from any other address is closed at once,
// on the proxy port and on tunnel ports alike. The outside address lives on the loopback of
// the test's own network namespace.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstdlib>

#include "tests/e2e/office_fixture.h"
#include "tests/support/loopback.h"

namespace tenvar::e2e {
namespace {

using namespace tenvar::test;

constexpr const char* kOutsideAddress = "203.0.113.7";

// Connects from kOutsideAddress to the same address's `port` and returns what came back.
std::string ExchangeFromOutside(int port, std::string_view request, bool* closed) {
  platform::UniqueFd socket(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  ::inet_pton(AF_INET, kOutsideAddress, &address.sin_addr);
  if (::connect(socket.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    *closed = true;
    return "";
  }
  SendAll(socket.Get(), request);
  return ReadUntilClosed(socket.Get(), std::chrono::seconds(10), closed);
}

using LanOnly = OfficeTest;

TEST_F(LanOnly, ConnectionsFromOutsideTheLanAreClosedUnserved) {
  ASSERT_EQ(std::system((std::string("ip addr add ") + kOutsideAddress + "/32 dev lo").c_str()), 0);
  ASSERT_NO_FATAL_FAILURE(StartTenvar({.Tunnels = {{OriginServer::kPort, "127.0.0.1", 2525}}}));

  bool closed = false;
  const std::string proxied = ExchangeFromOutside(
      kProxyPort, "GET " + OriginServer::Url("/small.txt") + " HTTP/1.0\r\n\r\n", &closed);
  EXPECT_TRUE(closed);
  EXPECT_EQ(proxied, "");
  EXPECT_TRUE(tenvar_->WaitForConsole(std::string("Refused connection from ") + kOutsideAddress));

  const std::string tunnelled =
      ExchangeFromOutside(2525, "GET /small.txt HTTP/1.0\r\n\r\n", &closed);
  EXPECT_TRUE(closed);
  EXPECT_EQ(tunnelled, "");

  // The LAN is still served.
  EXPECT_EQ(Fetch({OriginServer::Url("/small.txt")}).Status, 200);
  EXPECT_NE(Exchange(2525, "GET /small.txt HTTP/1.0\r\n\r\n").find(origin_->Content("small.txt")),
            std::string::npos);
}

}  // namespace
}  // namespace tenvar::e2e
