// The request log and the LAN registry it names machines from: UDP registrations on port
// 1403, and abuse keywords found in what was fetched.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <regex>

#include "platform/text.h"
#include "tests/e2e/file_watch.h"
#include "tests/e2e/office_fixture.h"
#include "tests/e2e/udp_capture.h"

namespace tenvar::e2e {
namespace {

constexpr std::uint16_t kRegistryPort = 1403;

class LanRegistry : public OfficeTest {
 protected:
  // Waits for the request log's line for `url` and returns it.
  std::string RequestLogLineFor(const std::string& url) {
    const std::string path = RequestsLogPath(dir_);
    if (!WaitForFileText(path, "\"" + url + "\"", 5s)) return "";
    std::string found;
    for (const std::string& line : platform::SplitLines(platform::ReadFileText(path))) {
      if (line.find("\"" + url + "\"") != std::string::npos) found = line;
    }
    return found;
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
  sockaddr_in from{};
  from.sin_family = AF_INET;
  ::inet_pton(AF_INET, source, &from.sin_addr);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(kRegistryPort);
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return ::bind(fd.Get(), reinterpret_cast<const sockaddr*>(&from), sizeof from) == 0 &&
         ::sendto(fd.Get(), datagram.data(), datagram.size(), 0,
                  reinterpret_cast<const sockaddr*>(&to),
                  sizeof to) == static_cast<ssize_t>(datagram.size());
}

// Whether `line` is a request-log line (date and time as dd/mm/yyyy and hh:mm:ss) for `url`
// fetched from 127.0.0.1, with the keyword found and the names the registry knew.
bool IsLogLine(const std::string& line, const std::string& keyword, const std::string& machine,
               const std::string& user, const std::string& url) {
  const std::string escapedUrl = std::regex_replace(url, std::regex(R"([.?])"), R"(\$&)");
  const std::string pattern = "\"" + keyword + R"(","\d\d/\d\d/\d{4}","\d\d:\d\d:\d\d",")" +
                              machine + R"(","127\.0\.0\.1",")" + user + "\",\"" + escapedUrl +
                              "\"";
  return std::regex_match(line, std::regex(pattern));
}

TEST_F(LanRegistry, LogsARequestOfAnUnregisteredMachineAsUnknown) {
  ASSERT_NO_FATAL_FAILURE(StartTenvar());
  const CurlResult small = Fetch({OriginServer::Url("/small.txt")});
  EXPECT_EQ(small.Status, 200) << small.Stderr;
  const std::string line = RequestLogLineFor(OriginServer::Url("/small.txt"));
  EXPECT_TRUE(IsLogLine(line, "", "Unknown", "Unknown", OriginServer::Url("/small.txt"))) << line;
}

TEST_F(LanRegistry, NamesARegisteredMachineUntilItLeaves) {
  UdpCapture capture;
  ASSERT_TRUE(capture.Valid()) << "a raw socket needs root in the test's namespace";
  ASSERT_NO_FATAL_FAILURE(StartTenvar());

  ASSERT_TRUE(SendToRegistry("127.0.0.1", RegistryDatagram('+', "PC1", "alice")));
  EXPECT_TRUE(capture.WaitFor("127.0.0.1", kRegistryPort, "OK", 5s))
      << "no answer to the registration";
  const CurlResult named = Fetch({OriginServer::Url("/small.txt?named")});
  EXPECT_EQ(named.Status, 200) << named.Stderr;
  const std::string namedLine = RequestLogLineFor(OriginServer::Url("/small.txt?named"));
  EXPECT_TRUE(IsLogLine(namedLine, "", "PC1", "alice", OriginServer::Url("/small.txt?named")))
      << namedLine;

  ASSERT_TRUE(SendToRegistry("127.0.0.1", RegistryDatagram('-', "PC1", "alice")));
  // The registry serves datagrams in order: once a later registration is answered, the
  // leaving has been handled.
  ASSERT_TRUE(SendToRegistry("127.0.0.2", RegistryDatagram('+', "PC2", "bob")));
  EXPECT_TRUE(capture.WaitFor("127.0.0.2", kRegistryPort, "OK", 5s))
      << "no answer to the second registration";
  const CurlResult unnamed = Fetch({OriginServer::Url("/small.txt?unnamed")});
  EXPECT_EQ(unnamed.Status, 200) << unnamed.Stderr;
  const std::string unnamedLine = RequestLogLineFor(OriginServer::Url("/small.txt?unnamed"));
  EXPECT_TRUE(
      IsLogLine(unnamedLine, "", "Unknown", "Unknown", OriginServer::Url("/small.txt?unnamed")))
      << unnamedLine;
}

TEST_F(LanRegistry, LogsTheAbuseKeywordFoundInAFetchedPage) {
  OfficeOptions options;
  options.AbuseKeywords = "contraband\n";
  ASSERT_NO_FATAL_FAILURE(StartTenvar(options));
  origin_->Add("news.txt", "Today's news: contraband seized at the port.\n");
  UdpCapture capture;
  ASSERT_TRUE(capture.Valid());

  const CurlResult news = Fetch({OriginServer::Url("/news.txt")});
  EXPECT_EQ(news.Status, 200) << news.Stderr;
  EXPECT_EQ(news.Body, origin_->Content("news.txt"));
  CapturedDatagram alert;
  ASSERT_TRUE(capture.WaitFor("255.255.255.255", 1403, "!", std::chrono::seconds(5), &alert));
  EXPECT_EQ(alert.Payload, "!");
  const std::string newsLine = RequestLogLineFor(OriginServer::Url("/news.txt"));
  EXPECT_TRUE(
      IsLogLine(newsLine, "contraband", "Unknown", "Unknown", OriginServer::Url("/news.txt")))
      << newsLine;

  const CurlResult clean = Fetch({OriginServer::Url("/small.txt")});
  EXPECT_EQ(clean.Status, 200) << clean.Stderr;
  const std::string cleanLine = RequestLogLineFor(OriginServer::Url("/small.txt"));
  EXPECT_TRUE(IsLogLine(cleanLine, "", "Unknown", "Unknown", OriginServer::Url("/small.txt")))
      << cleanLine;
}

TEST_F(LanRegistry, IgnoresKeywordsWhenAbuseDetectionIsOff) {
  OfficeOptions options;
  options.AbuseDetection = false;
  options.AbuseKeywords = "contraband\n";
  ASSERT_NO_FATAL_FAILURE(StartTenvar(options));
  origin_->Add("news.txt", "Today's news: contraband seized at the port.\n");

  const CurlResult news = Fetch({OriginServer::Url("/news.txt")});
  EXPECT_EQ(news.Status, 200) << news.Stderr;
  const std::string line = RequestLogLineFor(OriginServer::Url("/news.txt"));
  EXPECT_TRUE(IsLogLine(line, "", "Unknown", "Unknown", OriginServer::Url("/news.txt"))) << line;
}

}  // namespace
}  // namespace tenvar::e2e
