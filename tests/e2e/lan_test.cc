// The office's LAN: only its machines are served, a connection from any other address being
// closed at once on the proxy port and on tunnel ports alike (the outside address lives on the
// loopback of the test's own network namespace); and the request log with the LAN registry it
// names machines from: UDP registrations on port 1403, and abuse keywords found in what was
// fetched.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstdlib>
#include <regex>

#include "platform/text.h"
#include "tests/e2e/office_fixture.h"
#include "tests/e2e/udp_capture.h"
#include "tests/support/loopback.h"

namespace tenvar::e2e {
namespace {

using namespace tenvar::test;

constexpr const char* kOutsideAddress = "203.0.113.7";

// Connects from kOutsideAddress to the same address's `port` and returns what came back.
std::string ExchangeFromOutside(int port, std::string_view request, bool* closed) {
  platform::UniqueFd socket(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  sockaddr_in address = LoopbackAddress(port);
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
  ASSERT_TRUE(tenvar_->WaitForConsole("IP Tunnel listening on port 2525"));

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
}

constexpr std::uint16_t kRegistryPort = 1403;

class LanRegistry : public OfficeTest {
 protected:
  // Fetches `path` from the origin and checks its request-log line (date and time as
  // dd/mm/yyyy and hh:mm:ss): fetched from 127.0.0.1, with `keyword` found and the names the
  // registry knew.
  ::testing::AssertionResult FetchIsLogged(const std::string& path, const std::string& keyword,
                                           const std::string& machine, const std::string& user) {
    const std::string url = OriginServer::Url(path);
    const CurlResult answer = Fetch({url});
    if (answer.Status != 200 ||
        answer.Body != origin_->Content(path.substr(1, path.find('?') - 1))) {
      return ::testing::AssertionFailure() << answer.Status << " " << answer.Body << answer.Stderr;
    }
    const std::string log = dir_.File("requests.csv");
    WaitForFileText(log, "\"" + url + "\"", 5s);
    std::string found;
    for (const std::string& line : platform::SplitLines(platform::ReadFileText(log))) {
      if (line.find("\"" + url + "\"") != std::string::npos) found = line;
    }
    const std::string escapedUrl = std::regex_replace(url, std::regex(R"([.?])"), R"(\$&)");
    const std::string pattern = "\"" + keyword + R"(","\d\d/\d\d/\d{4}","\d\d:\d\d:\d\d",")" +
                                machine + R"(","127\.0\.0\.1",")" + user + "\",\"" + escapedUrl +
                                "\"";
    if (std::regex_match(found, std::regex(pattern))) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "logged: " << found;
  }
};

// A registration ("+") or leaving ("-") datagram as a LAN machine sends it: the machine
// name from byte 1, the user name from byte 64.
std::string RegistryDatagram(char kind, const std::string& machine, const std::string& user) {
  std::string datagram(64, '\0');
  datagram[0] = kind;
  datagram.replace(1, machine.size(), machine);
  datagram += user;
  datagram += '\0';
  return datagram;
}

// Sends `datagram` from `source` (any port) to the registry on 127.0.0.1.
bool SendToRegistry(const char* source, const std::string& datagram) {
  platform::UniqueFd fd(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  sockaddr_in from = LoopbackAddress(0);
  ::inet_pton(AF_INET, source, &from.sin_addr);
  const sockaddr_in to = LoopbackAddress(kRegistryPort);
  return ::bind(fd.Get(), reinterpret_cast<const sockaddr*>(&from), sizeof from) == 0 &&
         ::sendto(fd.Get(), datagram.data(), datagram.size(), 0,
                  reinterpret_cast<const sockaddr*>(&to),
                  sizeof to) == static_cast<ssize_t>(datagram.size());
}

// A keyword in a fetched page is logged and broadcast as an alert, unless detection is off.
TEST_F(LanRegistry, NamesARegisteredMachineUntilItLeavesAndLogsAKeywordOnlyWhenDetectionIsOn) {
  origin_->Add("news.txt", "Today's news: contraband seized at the port.\n");
  UdpCapture capture;
  ASSERT_TRUE(capture.Valid()) << "a raw socket needs root in the test's namespace";
  ASSERT_NO_FATAL_FAILURE(StartTenvar({.AbuseKeywords = "contraband\n"}));
  EXPECT_TRUE(FetchIsLogged("/small.txt?before", "", "Unknown", "Unknown"));

  ASSERT_TRUE(SendToRegistry("127.0.0.1", RegistryDatagram('+', "PC1", "alice")));
  EXPECT_TRUE(capture.WaitFor("127.0.0.1", kRegistryPort, "OK", 5s))
      << "no answer to the registration";
  EXPECT_TRUE(FetchIsLogged("/news.txt?named", "contraband", "PC1", "alice"));
  EXPECT_EQ(capture.WaitFor("255.255.255.255", kRegistryPort, "!", 5s).value_or("(none)"), "!");

  ASSERT_TRUE(SendToRegistry("127.0.0.1", RegistryDatagram('-', "PC1", "alice")));
  // The registry serves datagrams in order: once a later registration is answered, the
  // leaving has been handled.
  ASSERT_TRUE(SendToRegistry("127.0.0.2", RegistryDatagram('+', "PC2", "bob")));
  EXPECT_TRUE(capture.WaitFor("127.0.0.2", kRegistryPort, "OK", 5s))
      << "no answer to the second registration";
  EXPECT_TRUE(FetchIsLogged("/small.txt?unnamed", "", "Unknown", "Unknown"));

  tenvar_.reset();
  ASSERT_NO_FATAL_FAILURE(StartTenvar({.AbuseDetection = false, .AbuseKeywords = "contraband\n"}));
  EXPECT_TRUE(FetchIsLogged("/news.txt?off", "", "Unknown", "Unknown"));
}

}  // namespace
}  // namespace tenvar::e2e
