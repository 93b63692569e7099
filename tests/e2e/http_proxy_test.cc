// The HTTP proxy as browsers on the LAN see it: nginx as the web server, squid upstream,
// openssl s_server behind CONNECT, curl or a plain socket as the browser.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstdlib>
#include <latch>
#include <optional>
#include <regex>
#include <thread>

#include "tests/e2e/office_fixture.h"
#include "tests/e2e/tls_server.h"
#include "tests/e2e/upstream_proxy.h"
#include "tests/support/loopback.h"

namespace tenvar::e2e {
namespace {

using namespace tenvar::test;

constexpr std::string_view kForbiddenAnswer =
    "HTTP/1.1 403 Forbidden\r\nContent-type: text/html\r\nCache-control: no-cache\r\n\r\n"
    "You are not allowed to view this URL.";
constexpr std::string_view kForbiddenBody = "You are not allowed to view this URL.";

class HttpProxy : public OfficeTest {
 protected:
  // Starts squid as the upstream proxy and tenvar sending through it, except for requests
  // whose line contains one of `exclusions` (one per line).
  void StartWithUpstream(const std::string& exclusions = "") {
    TENVAR_REQUIRE_PROGRAM("squid");
    upstream_.emplace(dir_);
    ASSERT_TRUE(upstream_->Running()) << upstream_->Error();
    OfficeOptions options;
    options.UseUpstream = true;
    options.UpstreamExclusions = exclusions;
    ASSERT_NO_FATAL_FAILURE(StartTenvar(options));
  }

  std::optional<UpstreamProxy> upstream_;
};

// The body of a chunked answer; nothing when the last chunk is missing or a size is bad.
std::optional<std::string> DecodeChunked(std::string_view chunked) {
  std::string body;
  for (;;) {
    const size_t lineEnd = chunked.find("\r\n");
    if (lineEnd == std::string_view::npos) return std::nullopt;
    const std::string sizeText(chunked.substr(0, lineEnd));
    char* end = nullptr;
    const unsigned long size = std::strtoul(sizeText.c_str(), &end, 16);
    if (end == sizeText.c_str()) return std::nullopt;
    chunked.remove_prefix(lineEnd + 2);
    if (size == 0) return body;
    if (chunked.size() < size + 2) return std::nullopt;
    body.append(chunked.substr(0, size));
    chunked.remove_prefix(size + 2);
  }
}

// Bytes that no two uploads share, so a body mixed up with another or cut short shows.
std::string UploadBytes(std::size_t size, std::uint32_t seed) {
  std::string bytes(size, '\0');
  for (char& c : bytes) {
    seed = seed * 1103515245u + 12345u;
    c = static_cast<char>(seed >> 16);
  }
  return bytes;
}

// What the origin kept of an upload to /store: the file its answer names.
std::string StoredBody(const CurlResult& answer) {
  const std::size_t at = answer.Body.find("stored=");
  if (at == std::string::npos || !answer.Body.ends_with("\n"))
    return "(no file: " + answer.Body + ")";
  const std::size_t start = at + 7;
  return platform::ReadFileText(answer.Body.substr(start, answer.Body.size() - 1 - start));
}

// A browser's request for `path` on the origin, in the form a proxy is sent it.
std::string RawGet(std::string_view path) {
  return "GET " + OriginServer::Url(path) + " HTTP/1.0\r\nHost: 127.0.0.1:8081\r\n\r\n";
}

TEST_F(HttpProxy, RelaysTenMebibytesByteForByte) {
  ASSERT_NO_FATAL_FAILURE(StartTenvar());
  const CurlResult big = Fetch({OriginServer::Url("/big.bin")});
  EXPECT_EQ(big.ExitCode, 0) << big.Stderr;
  EXPECT_EQ(big.Status, 200);
  ASSERT_EQ(big.Body.size(), OriginServer::kBigSize);
  EXPECT_TRUE(big.Body == origin_->Content("big.bin")) << "the bytes differ";
}

TEST_F(HttpProxy, SendsGetHeadPostAndPutToTheServerInOriginForm) {
  ASSERT_NO_FATAL_FAILURE(StartTenvar());

  const CurlResult get = Fetch({OriginServer::Url("/echo")});
  EXPECT_EQ(get.Status, 200) << get.Stderr;
  EXPECT_TRUE(get.Body.starts_with("GET /echo HTTP/1.1\n")) << get.Body;
  EXPECT_TRUE(std::regex_search(get.Body, std::regex("\nVia: 1\\.1 [^ ,]+:8080\n"))) << get.Body;

  const CurlResult head = Fetch({"-I", OriginServer::Url("/echo")});
  EXPECT_EQ(head.Status, 200) << head.Stderr;
  EXPECT_TRUE(origin_->WaitForAccessLog("\nHEAD /echo HTTP/1.1|")) << origin_->AccessLog();

  // A body this small goes out in the same packet as the request.
  const CurlResult post = Fetch({"--data", "x", OriginServer::Url("/upload")});
  EXPECT_EQ(post.Status, 200) << post.Stderr;
  EXPECT_EQ(post.Body, "POST body=x\n");
  EXPECT_TRUE(origin_->WaitForAccessLog("\nPOST /upload HTTP/1.1|")) << origin_->AccessLog();

  const CurlResult put = Fetch({"-X", "PUT", "--data", "y", OriginServer::Url("/upload")});
  EXPECT_EQ(put.Status, 200) << put.Stderr;
  EXPECT_EQ(put.Body, "PUT body=y\n");
  EXPECT_TRUE(origin_->WaitForAccessLog("\nPUT /upload HTTP/1.1|")) << origin_->AccessLog();
}

TEST_F(HttpProxy, AsksTheServerToCloseTheConnection) {
  ASSERT_NO_FATAL_FAILURE(StartTenvar());
  const CurlResult echo = Fetch({"-H", "Connection: keep-alive", OriginServer::Url("/echo")});
  EXPECT_EQ(echo.Status, 200) << echo.Stderr;
  EXPECT_NE(echo.Body.find("\nConnection: close\n"), std::string::npos) << echo.Body;
}

TEST_F(HttpProxy, FinishesAChunkedAnswerFromAKeepAliveServer) {
  ASSERT_NO_FATAL_FAILURE(StartTenvar());
  // curl would stop at the last chunk by itself, so a plain socket waits for the proxy to
  // close, as a browser does. nginx would hold its side open for 65 s.
  const platform::UniqueFd fd = ConnectTo(kProxyPort);
  ASSERT_TRUE(fd.Valid());
  ASSERT_TRUE(SendAll(fd.Get(), "GET " + OriginServer::Url("/chunked.txt") +
                                    " HTTP/1.1\r\nHost: 127.0.0.1:8081\r\n\r\n"));
  bool closed = false;
  const RawReply reply = SplitReply(ReadUntilClosed(fd.Get(), 20s, &closed));
  EXPECT_TRUE(closed) << "the answer did not end";
  EXPECT_EQ(reply.StatusLine, "HTTP/1.1 200 OK");
  EXPECT_NE(reply.Headers.find("Transfer-Encoding: chunked\r\n"), std::string::npos)
      << reply.Headers;
  const std::optional<std::string> body = DecodeChunked(reply.Body);
  ASSERT_TRUE(body) << "the chunks are incomplete";
  EXPECT_TRUE(*body == origin_->Content("chunked.txt")) << body->size() << " bytes arrived";
}

TEST_F(HttpProxy, SendsRequestsThroughTheUpstreamProxyInAbsoluteForm) {
  ASSERT_NO_FATAL_FAILURE(StartWithUpstream());
  UpstreamProxy& upstream = *upstream_;

  const CurlResult get = Fetch({OriginServer::Url("/echo")});
  EXPECT_EQ(get.Status, 200) << get.Stderr;
  EXPECT_NE(get.Body.find(UpstreamProxy::kVia), std::string::npos) << get.Body;
  EXPECT_TRUE(upstream.WaitForAccessLog(" GET http://127.0.0.1:8081/echo "))
      << upstream.AccessLog();

  const CurlResult post = Fetch({"--data", "x", OriginServer::Url("/upload")});
  EXPECT_EQ(post.Status, 200) << post.Stderr;
  EXPECT_EQ(post.Body, "POST body=x\n");
  EXPECT_TRUE(upstream.WaitForAccessLog(" POST http://127.0.0.1:8081/upload "))
      << upstream.AccessLog();

  const CurlResult put = Fetch({"-X", "PUT", "--data", "y", OriginServer::Url("/upload")});
  EXPECT_EQ(put.Status, 200) << put.Stderr;
  EXPECT_EQ(put.Body, "PUT body=y\n");
  EXPECT_TRUE(upstream.WaitForAccessLog(" PUT http://127.0.0.1:8081/upload "))
      << upstream.AccessLog();

  const CurlResult head = Fetch({"-I", OriginServer::Url("/small.txt")});
  EXPECT_EQ(head.Status, 200) << head.Stderr;
  EXPECT_TRUE(upstream.WaitForAccessLog(" HEAD http://127.0.0.1:8081/small.txt "))
      << upstream.AccessLog();
}

TEST_F(HttpProxy, SendsAnExcludedRequestDirectInsteadOfUpstream) {
  ASSERT_NO_FATAL_FAILURE(StartWithUpstream("direct\n"));
  UpstreamProxy& upstream = *upstream_;

  const CurlResult excluded = Fetch({OriginServer::Url("/echo?direct")});
  EXPECT_EQ(excluded.Status, 200) << excluded.Stderr;
  EXPECT_TRUE(
      std::regex_match(excluded.Body, std::regex("GET /echo\\?direct HTTP/1\\.1\n"
                                                 "Connection: close\nVia: 1\\.1 [^ ,]+:8080\n")))
      << excluded.Body;

  const CurlResult other = Fetch({OriginServer::Url("/echo?upstream")});
  EXPECT_EQ(other.Status, 200) << other.Stderr;
  EXPECT_NE(other.Body.find(UpstreamProxy::kVia), std::string::npos) << other.Body;
  EXPECT_TRUE(upstream.WaitForAccessLog("http://127.0.0.1:8081/echo?upstream"))
      << upstream.AccessLog();
  EXPECT_EQ(upstream.AccessLog().find("direct"), std::string::npos) << upstream.AccessLog();
}

TEST_F(HttpProxy, RefusesAUrlWithABlockedWord) {
  OfficeOptions options;
  options.BlockFile = "forbidden\n";
  ASSERT_NO_FATAL_FAILURE(StartTenvar(options));

  EXPECT_EQ(Exchange(kProxyPort, RawGet("/forbidden.txt")), kForbiddenAnswer);
  const CurlResult refused = Fetch({OriginServer::Url("/small.txt?forbidden")});
  EXPECT_EQ(refused.Status, 403);
  EXPECT_EQ(refused.Body, kForbiddenBody);
  const CurlResult allowed = Fetch({OriginServer::Url("/small.txt")});
  EXPECT_EQ(allowed.Status, 200) << allowed.Stderr;
  EXPECT_EQ(allowed.Body, origin_->Content("small.txt"));
  EXPECT_EQ(origin_->AccessLog().find("forbidden"), std::string::npos) << origin_->AccessLog();
}

TEST_F(HttpProxy, DecidesByTheLastMatchingBlockRule) {
  OfficeOptions options;
  options.AdvancedBlocking = true;
  options.BlockFile = "- 127.0.* *.txt\n+ * *small.txt\n";
  ASSERT_NO_FATAL_FAILURE(StartTenvar(options));

  const CurlResult denied = Fetch({OriginServer::Url("/chunked.txt")});
  EXPECT_EQ(denied.Status, 403) << denied.Stderr;
  EXPECT_EQ(denied.Body, kForbiddenBody);
  EXPECT_EQ(Exchange(kProxyPort, RawGet("/chunked.txt")), kForbiddenAnswer);

  const CurlResult allowedAgain = Fetch({OriginServer::Url("/small.txt")});
  EXPECT_EQ(allowedAgain.Status, 200) << allowedAgain.Stderr;
  EXPECT_EQ(allowedAgain.Body, origin_->Content("small.txt"));
  const CurlResult unmatched = Fetch({OriginServer::Url("/medium.bin")});
  EXPECT_EQ(unmatched.Status, 200) << unmatched.Stderr;
  EXPECT_EQ(unmatched.Body.size(), OriginServer::kMediumSize);
}

TEST_F(HttpProxy, LetsOnlyTrustedSitesThroughAndTrustsWhatATrustedPageLinks) {
  OfficeOptions options;
  options.TrustedSites = "small.txt\n";
  ASSERT_NO_FATAL_FAILURE(StartTenvar(options));

  const CurlResult trusted = Fetch({OriginServer::Url("/small.txt")});
  EXPECT_EQ(trusted.Status, 200) << trusted.Stderr;
  const CurlResult untrusted = Fetch({OriginServer::Url("/echo")});
  EXPECT_EQ(untrusted.Status, 403) << untrusted.Stderr;
  EXPECT_EQ(untrusted.Body, kForbiddenBody);
  EXPECT_EQ(Exchange(kProxyPort, RawGet("/medium.bin")), kForbiddenAnswer);

  const CurlResult linked =
      Fetch({"-e", OriginServer::Url("/small.txt"), OriginServer::Url("/echo")});
  EXPECT_EQ(linked.Status, 200) << linked.Stderr;
  EXPECT_TRUE(linked.Body.starts_with("GET /echo HTTP/1.1\n")) << linked.Body;

  const CurlResult nowTrusted = Fetch({OriginServer::Url("/echo")});
  EXPECT_EQ(nowTrusted.Status, 200) << nowTrusted.Stderr;
  const CurlResult stillUntrusted = Fetch({OriginServer::Url("/medium.bin")});
  EXPECT_EQ(stillUntrusted.Status, 403) << stillUntrusted.Stderr;
}

TEST_F(HttpProxy, TunnelsTlsThroughConnect) {
  TENVAR_REQUIRE_PROGRAM("openssl");
  TlsServer tls(dir_);
  ASSERT_TRUE(tls.Running()) << tls.Error();
  ASSERT_NO_FATAL_FAILURE(StartTenvar());

  const CurlResult page = Fetch({"-k", "https://localhost:8443/"});
  EXPECT_EQ(page.ExitCode, 0) << page.Stderr;
  EXPECT_EQ(page.Status, 200);
  // The first header block is the proxy's answer to CONNECT.
  EXPECT_TRUE(std::regex_search(page.Headers, std::regex(R"(^HTTP/1\.[01] 200 )"))) << page.Headers;
  EXPECT_NE(page.Body.find("<HTML><BODY"), std::string::npos) << page.Body;
}

TEST_F(HttpProxy, AnswersAConnectOrARequestToAClosedPortWithBadGateway) {
  ASSERT_NO_FATAL_FAILURE(StartTenvar());
  const std::string body = "There was an error connecting to the server 127.0.0.1 on port 9.\r\n";
  for (const char* request : {"CONNECT 127.0.0.1:9 HTTP/1.1\r\nHost: 127.0.0.1:9\r\n\r\n",
                              "GET http://127.0.0.1:9/ HTTP/1.1\r\nHost: 127.0.0.1:9\r\n\r\n"}) {
    SCOPED_TRACE(request);
    const RawReply reply = SplitReply(Exchange(kProxyPort, request));
    EXPECT_EQ(reply.StatusLine, "HTTP/1.0 502 Bad Gateway");
    EXPECT_NE(reply.Headers.find("Content-Length: " + std::to_string(body.size()) + "\r\n"),
              std::string::npos)
        << reply.Headers;
    EXPECT_NE(reply.Headers.find("Connection: close\r\n"), std::string::npos) << reply.Headers;
    EXPECT_EQ(reply.Body, body);
  }
}

// A server that takes the request and closes without a word.
TEST_F(HttpProxy, AnswersAServerThatClosesWithoutAWordWithBadGateway) {
  const platform::UniqueFd listener(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(8095);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(::bind(listener.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(::listen(listener.Get(), 4), 0);
  ASSERT_NO_FATAL_FAILURE(StartTenvar());
  std::jthread mute([&] {
    const platform::UniqueFd server(::accept4(listener.Get(), nullptr, nullptr, SOCK_CLOEXEC));
    char request[4096];
    [[maybe_unused]] const ssize_t got = ::recv(server.Get(), request, sizeof request, 0);
  });
  const RawReply reply = SplitReply(
      Exchange(kProxyPort, "GET http://127.0.0.1:8095/ HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n"));
  EXPECT_EQ(reply.StatusLine, "HTTP/1.0 502 Bad Gateway");
  EXPECT_EQ(reply.Body, "The server did not answer.\r\n");
}

TEST_F(HttpProxy, AnswersAnUnresolvableServerWithBadGateway) {
  ASSERT_NO_FATAL_FAILURE(StartTenvar());
  const CurlResult answer = Fetch({"http://no-such-host.invalid/"});
  EXPECT_EQ(answer.Status, 502) << answer.Stderr;
  EXPECT_TRUE(answer.Body.starts_with("Cannot resolve server name no-such-host.invalid: "))
      << answer.Body;
}

TEST_F(HttpProxy, ServesTwoHundredBrowsersAtOnce) {
  ASSERT_NO_FATAL_FAILURE(StartTenvar());
  constexpr int kBrowsers = 200;
  const std::string expected = origin_->Content("medium.bin");
  std::vector<std::string> failures(kBrowsers);
  {
    // Every browser is connected before any sends, so the sessions overlap.
    std::latch connected(kBrowsers);
    std::vector<std::jthread> browsers;
    for (int i = 0; i < kBrowsers; ++i) {
      browsers.emplace_back([&, i] {
        const platform::UniqueFd fd = ConnectTo(kProxyPort, 20s);
        connected.arrive_and_wait();
        if (!fd.Valid()) {
          failures[i] = "no connection";
          return;
        }
        if (!SendAll(fd.Get(), RawGet("/medium.bin"))) {
          failures[i] = "request not sent";
          return;
        }
        bool closed = false;
        const RawReply reply = SplitReply(ReadUntilClosed(fd.Get(), 20s, &closed));
        if (!closed) {
          failures[i] = "not closed in time";
        } else if (!reply.StatusLine.starts_with("HTTP/1.1 200 ")) {
          failures[i] = "status line " + reply.StatusLine.substr(0, 80);
        } else if (reply.Body != expected) {
          failures[i] = "body of " + std::to_string(reply.Body.size()) + " bytes";
        }
      });
    }
  }
  int failed = 0;
  std::string first;
  for (const std::string& failure : failures) {
    if (failure.empty()) continue;
    if (failed++ == 0) first = failure;
  }
  EXPECT_EQ(failed, 0) << "first failure: " << first;
}

TEST_F(HttpProxy, LogsSessionActivityWhenLoggingIsEnabled) {
  ASSERT_NO_FATAL_FAILURE(StartTenvar());
  const CurlResult small = Fetch({OriginServer::Url("/small.txt")});
  EXPECT_EQ(small.Status, 200) << small.Stderr;
  EXPECT_TRUE(tenvar_->WaitForConsole("HTTP: Contacting web server about 127.0.0.1/small.txt"))
      << tenvar_->ConsoleSoFar();
  ASSERT_TRUE(tenvar_->Stop());
  EXPECT_EQ(tenvar_->ConsoleSoFar().find("Getting request from browser"), std::string::npos)
      << tenvar_->ConsoleSoFar();
}

TEST_F(HttpProxy, LogsDiagnosticsWhenDebugIsOn) {
  OfficeOptions options;
  options.Debug = true;
  ASSERT_NO_FATAL_FAILURE(StartTenvar(options));
  const CurlResult small = Fetch({OriginServer::Url("/small.txt")});
  EXPECT_EQ(small.Status, 200) << small.Stderr;
  EXPECT_TRUE(tenvar_->WaitForConsole("Getting request from browser")) << tenvar_->ConsoleSoFar();
  EXPECT_TRUE(tenvar_->WaitForConsole("HTTP: Contacting web server about 127.0.0.1/small.txt"))
      << tenvar_->ConsoleSoFar();
}

TEST_F(HttpProxy, LogsNoSessionLinesWhenLoggingIsDisabled) {
  OfficeOptions options;
  options.EnableLogging = false;
  options.Debug = true;
  ASSERT_NO_FATAL_FAILURE(StartTenvar(options));
  const CurlResult small = Fetch({OriginServer::Url("/small.txt")});
  EXPECT_EQ(small.Status, 200) << small.Stderr;
  ASSERT_TRUE(tenvar_->Stop());
  const std::string& console = tenvar_->ConsoleSoFar();
  EXPECT_EQ(console.find("Contacting web server"), std::string::npos) << console;
  EXPECT_EQ(console.find("Getting request from browser"), std::string::npos) << console;
}

// Uploads of every framing arrive whole, direct and through squid: "?direct" requests bypass
// the upstream proxy.
TEST_F(HttpProxy, UploadsArriveByteForByteDirectAndThroughTheUpstreamProxy) {
  ASSERT_NO_FATAL_FAILURE(StartWithUpstream("direct\n"));
  UpstreamProxy& upstream = *upstream_;

  const std::string form = UploadBytes(300 * 1024, 1);
  const std::string file = UploadBytes(3 * 1024 * 1024, 2);
  const std::string formPath = dir_.Write("form.bin", form);
  const std::string filePath = dir_.Write("file.bin", file);
  struct Case {
    const char* Name;
    std::vector<std::string> Arguments;
    const std::string& Sent;
    const char* Method;
  };
  const Case cases[] = {
      {"POST waiting for 100 Continue",
       {"-H", "Expect: 100-continue", "--data-binary", "@" + formPath},
       form,
       "POST"},
      {"PUT of 3 MiB", {"-T", filePath}, file, "PUT"},
      {"chunked POST",
       {"-H", "Transfer-Encoding: chunked", "--data-binary", "@" + formPath},
       form,
       "POST"},
  };
  for (const char* route : {"direct", "upstream"}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(c.Name) + ", " + route);
      std::vector<std::string> arguments = c.Arguments;
      arguments.push_back(OriginServer::Url(OriginServer::kStorePath) + "?" + route);
      const CurlResult answer = Fetch(arguments);
      EXPECT_EQ(answer.ExitCode, 0) << answer.Stderr;
      ASSERT_EQ(answer.Status, 200) << answer.Body;
      EXPECT_TRUE(answer.Body.starts_with(c.Method)) << answer.Body;
      const std::string stored = StoredBody(answer);
      EXPECT_EQ(stored.size(), c.Sent.size());
      EXPECT_TRUE(stored == c.Sent) << "the stored body differs";
    }
  }
  EXPECT_TRUE(upstream.WaitForAccessLog(" PUT http://127.0.0.1:8081/store?upstream "))
      << upstream.AccessLog();
}

// Requests whose end two parties could see in different places are never forwarded.
TEST_F(HttpProxy, RefusesRequestsWithAnAmbiguousLengthOrAnOversizedHeader) {
  ASSERT_NO_FATAL_FAILURE(StartTenvar());
  const std::string url = OriginServer::Url(OriginServer::kStorePath);
  const std::string requests[] = {
      "POST " + url +
          " HTTP/1.1\r\nHost: a\r\nContent-Length: 5\r\n"
          "Transfer-Encoding: chunked\r\n\r\n0\r\n\r\n",
      "POST " + url + " HTTP/1.1\r\nHost: a\r\nContent-Length: 5, 6\r\n\r\nhello",
      "POST " + url + " HTTP/1.1\r\nHost: a\r\nTransfer-Encoding: chunked, gzip\r\n\r\n",
      // 64 KiB is the limit of the header block, wherever the reads that bring it stop.
      "GET " + url + " HTTP/1.1\r\nX-Filler: " + std::string(70000, 'x') + "\r\n\r\n",
  };
  for (const std::string& request : requests) {
    SCOPED_TRACE(request.substr(0, 120));
    EXPECT_EQ(SplitReply(Exchange(kProxyPort, request)).StatusLine, "HTTP/1.0 400 Bad Request");
  }
  ASSERT_TRUE(tenvar_->Stop());
  EXPECT_EQ(origin_->AccessLog().find("/store"), std::string::npos) << origin_->AccessLog();
}

// Block file and trusted sites judge an HTTPS site by "host:port".
TEST_F(HttpProxy, JudgesConnectByTheBlockFileAndTheTrustedSites) {
  TENVAR_REQUIRE_PROGRAM("openssl");
  TlsServer tls(dir_);
  ASSERT_TRUE(tls.Running()) << tls.Error();
  OfficeOptions options;
  options.TrustedSites = ":8443\n";
  options.BlockFile = "localhost\n";
  ASSERT_NO_FATAL_FAILURE(StartTenvar(options));

  const CurlResult blocked = Fetch({"-k", "https://localhost:8443/"});
  EXPECT_NE(blocked.ExitCode, 0);
  EXPECT_TRUE(blocked.Headers.starts_with("HTTP/1.1 403 Forbidden\r\n"))
      << blocked.Headers << blocked.Stderr;
  const std::string untrusted =
      Exchange(kProxyPort, "CONNECT 127.0.0.1:8081 HTTP/1.1\r\nHost: 127.0.0.1:8081\r\n\r\n");
  EXPECT_EQ(untrusted, kForbiddenAnswer);
  const CurlResult allowed = Fetch({"-k", "https://127.0.0.1:8443/"});
  EXPECT_EQ(allowed.ExitCode, 0) << allowed.Stderr;
  EXPECT_NE(allowed.Body.find("<HTML><BODY"), std::string::npos) << allowed.Body;
}

// Forwarded requests name this proxy in Via; one that comes back is a loop, answered at once.
TEST_F(HttpProxy, AnInstanceWhoseUpstreamIsItselfAnswersLoopDetected) {
  OfficeOptions options;
  options.UseUpstream = true;
  options.UpstreamPort = kProxyPort;
  ASSERT_NO_FATAL_FAILURE(StartTenvar(options));
  const CurlResult answer = Fetch({OriginServer::Url("/small.txt")});
  EXPECT_EQ(answer.Status, 508) << answer.Headers << answer.Stderr;
  ASSERT_TRUE(tenvar_->Stop());
  EXPECT_EQ(origin_->AccessLog(), "");
}

}  // namespace
}  // namespace tenvar::e2e
