// The HTTP proxy as browsers on the LAN see it: nginx as the web server, squid upstream,
// openssl s_server behind CONNECT, curl or a plain socket as the browser; list files that are
// not files, and more connections than a small machine has room for.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <latch>
#include <regex>
#include <sstream>
#include <thread>

#include "config/settings_file.h"
#include "tests/e2e/office_fixture.h"
#include "tests/e2e/scripted_origin.h"
#include "tests/e2e/tls_server.h"
#include "tests/e2e/upstream_proxy.h"

namespace tenvar::e2e {
namespace {

using namespace tenvar::test;

constexpr std::string_view kForbiddenAnswer =
    "HTTP/1.1 403 Forbidden\r\nContent-type: text/html\r\nCache-control: no-cache\r\n\r\n"
    "You are not allowed to view this URL.";

using HttpProxy = OfficeTest;

// A browser's request for `path` on the origin, in the form a proxy is sent it.
std::string RawGet(std::string_view path) {
  return "GET " + OriginServer::Url(path) + " HTTP/1.0\r\nHost: 127.0.0.1:8081\r\n\r\n";
}

TEST_F(HttpProxy, SendsGetHeadPostAndPutToTheServerInOriginFormAskingItToClose) {
  ASSERT_NO_FATAL_FAILURE(StartTenvar());
  const CurlResult get = Fetch({"-H", "Connection: keep-alive", OriginServer::Url("/echo")});
  EXPECT_EQ(get.Status, 200) << get.Stderr;
  EXPECT_TRUE(get.Body.starts_with("GET /echo HTTP/1.1\n")) << get.Body;
  EXPECT_TRUE(std::regex_search(get.Body, std::regex("\nVia: 1\\.1 [^ ,]+:8080\n"))) << get.Body;
  EXPECT_NE(get.Body.find("\nConnection: close\n"), std::string::npos) << get.Body;

  const struct {
    std::vector<std::string> Arguments;
    const char* Body;  // nothing to compare for HEAD
    const char* Logged;
  } kCases[] = {
      {{"-I", OriginServer::Url("/echo")}, nullptr, "\nHEAD /echo HTTP/1.1|"},
      // A body this small goes out in the same packet as the request.
      {{"--data", "x", OriginServer::Url("/upload")}, "POST body=x\n", "\nPOST /upload HTTP/1.1|"},
      {{"-X", "PUT", "--data", "y", OriginServer::Url("/upload")},
       "PUT body=y\n",
       "\nPUT /upload HTTP/1.1|"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.Logged);
    const CurlResult answer = Fetch(c.Arguments);
    EXPECT_EQ(answer.Status, 200) << answer.Stderr;
    if (c.Body != nullptr) {
      EXPECT_EQ(answer.Body, c.Body);
    }
    EXPECT_TRUE(origin_->WaitForLog(c.Logged)) << origin_->Log();
  }
}

TEST_F(HttpProxy, RelaysTenMebibytesByteForByteAndFinishesAChunkedAnswerFromAKeepAliveServer) {
  ASSERT_NO_FATAL_FAILURE(StartTenvar());
  const CurlResult big = Fetch({OriginServer::Url("/big.bin")});
  EXPECT_EQ(big.ExitCode, 0) << big.Stderr;
  EXPECT_EQ(big.Status, 200);
  ASSERT_EQ(big.Body.size(), OriginServer::kBigSize);
  EXPECT_TRUE(big.Body == origin_->Content("big.bin")) << "the bytes differ";

  // curl stops at the last chunk by itself, so a plain socket waits for the proxy to close,
  // as a browser does. nginx would hold its side open for 65 s.
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
  EXPECT_TRUE(reply.Body.ends_with("\r\n0\r\n\r\n")) << "the last chunk is missing";
  // curl checks the chunks as it takes them apart.
  const CurlResult chunked = Fetch({OriginServer::Url("/chunked.txt")});
  EXPECT_EQ(chunked.ExitCode, 0) << chunked.Stderr;
  EXPECT_TRUE(chunked.Body == origin_->Content("chunked.txt")) << chunked.Body.size() << " bytes";
}

TEST_F(HttpProxy, RefusesAUrlWithABlockedWordOrByTheLastMatchingRule) {
  const struct {
    bool AdvancedBlocking;
    const char* BlockFile;
    std::vector<std::string> Refused;
    std::vector<std::string> Allowed;
  } kCases[] = {
      {false, "forbidden\n", {"/forbidden.txt", "/small.txt?forbidden"}, {"/small.txt"}},
      // The last matching rule decides; a URL no rule matches passes.
      {true, "- 127.0.* *.txt\n+ * *small.txt\n", {"/chunked.txt"}, {"/small.txt", "/medium.bin"}},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.BlockFile);
    tenvar_.reset();
    ASSERT_NO_FATAL_FAILURE(
        StartTenvar({.AdvancedBlocking = c.AdvancedBlocking, .BlockFile = c.BlockFile}));
    for (const std::string& path : c.Refused) {
      EXPECT_EQ(Exchange(kProxyPort, RawGet(path)), kForbiddenAnswer);
    }
    for (const std::string& path : c.Allowed) {
      const CurlResult allowed = Fetch({OriginServer::Url(path)});
      EXPECT_EQ(allowed.Status, 200) << allowed.Stderr;
      EXPECT_TRUE(allowed.Body == origin_->Content(path.substr(1))) << path;
    }
    for (const std::string& path : c.Refused) {
      EXPECT_EQ(origin_->Log().find(path + " "), std::string::npos) << origin_->Log();
    }
  }
}

TEST_F(HttpProxy, LetsOnlyTrustedSitesThroughAndTrustsWhatATrustedPageLinks) {
  ASSERT_NO_FATAL_FAILURE(StartTenvar({.TrustedSites = "small.txt\n"}));

  const CurlResult trusted = Fetch({OriginServer::Url("/small.txt")});
  EXPECT_EQ(trusted.Status, 200) << trusted.Stderr;
  EXPECT_EQ(Exchange(kProxyPort, RawGet("/echo")), kForbiddenAnswer);

  const CurlResult linked =
      Fetch({"-e", OriginServer::Url("/small.txt"), OriginServer::Url("/echo")});
  EXPECT_EQ(linked.Status, 200) << linked.Stderr;
  EXPECT_TRUE(linked.Body.starts_with("GET /echo HTTP/1.1\n")) << linked.Body;

  const CurlResult nowTrusted = Fetch({OriginServer::Url("/echo")});
  EXPECT_EQ(nowTrusted.Status, 200) << nowTrusted.Stderr;
  const CurlResult stillUntrusted = Fetch({OriginServer::Url("/medium.bin")});
  EXPECT_EQ(stillUntrusted.Status, 403) << stillUntrusted.Stderr;
}

// A closed port, a silent server or an unknown name is a 502; an ambiguous request a 400.
TEST_F(HttpProxy, AnswersWhatItCannotReachWithBadGatewayAndWhatItCannotReadWithBadRequest) {
  ScriptedOrigin silent("");
  ASSERT_NO_FATAL_FAILURE(StartTenvar());
  const std::string body = "There was an error connecting to the server 127.0.0.1 on port 9.\r\n";
  for (const char* request : {"CONNECT 127.0.0.1:9 HTTP/1.1\r\nHost: 127.0.0.1:9\r\n\r\n",
                              "GET http://127.0.0.1:9/ HTTP/1.1\r\nHost: 127.0.0.1:9\r\n\r\n"}) {
    SCOPED_TRACE(request);
    const RawReply reply = SplitReply(Exchange(kProxyPort, request));
    EXPECT_EQ(reply.StatusLine, "HTTP/1.0 502 Bad Gateway");
    EXPECT_EQ(reply.Headers, "Content-Type: text/plain\r\nContent-Length: " +
                                 std::to_string(body.size()) + "\r\nConnection: close\r\n");
    EXPECT_EQ(reply.Body, body);
  }

  const RawReply reply = SplitReply(
      Exchange(kProxyPort, "GET " + silent.Url("/") + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n"));
  EXPECT_EQ(reply.StatusLine, "HTTP/1.0 502 Bad Gateway");
  EXPECT_EQ(reply.Body, "The server did not answer.\r\n");

  const CurlResult answer = Fetch({"http://no-such-host.invalid/"});
  EXPECT_EQ(answer.Status, 502) << answer.Stderr;
  EXPECT_TRUE(answer.Body.starts_with("Cannot resolve server name no-such-host.invalid: "))
      << answer.Body;

  // Requests whose end two parties could see in different places are never forwarded.
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
  EXPECT_EQ(origin_->Log().find("/store"), std::string::npos) << origin_->Log();
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
        bool closed = false;
        const RawReply reply = SplitReply(fd.Valid() && SendAll(fd.Get(), RawGet("/medium.bin"))
                                              ? ReadUntilClosed(fd.Get(), 20s, &closed)
                                              : "");
        if (!closed) {
          failures[i] = "no connection, request not sent or answer not closed in time";
        } else if (!reply.StatusLine.starts_with("HTTP/1.1 200 ")) {
          failures[i] = "status line " + reply.StatusLine.substr(0, 80);
        } else if (reply.Body != expected) {
          failures[i] = "body of " + std::to_string(reply.Body.size()) + " bytes";
        }
      });
    }
  }
  const auto failed = [](const std::string& failure) { return !failure.empty(); };
  EXPECT_EQ(std::count_if(failures.begin(), failures.end(), failed), 0)
      << "first failure: " << *std::find_if(failures.begin(), failures.end(), failed);
}

// Session lines need EnableLogging, diagnostics need Debug too.
TEST_F(HttpProxy, LogsSessionLinesWhenEnabledAndDiagnosticsOnlyWithDebug) {
  const struct {
    bool EnableLogging;
    bool Debug;
    bool SessionLines;
    bool Diagnostics;
  } kCases[] = {{true, false, true, false}, {true, true, true, true}, {false, true, false, false}};
  for (const auto& c : kCases) {
    SCOPED_TRACE(std::string("logging ") + (c.EnableLogging ? "on" : "off") + ", debug " +
                 (c.Debug ? "on" : "off"));
    tenvar_.reset();
    ASSERT_NO_FATAL_FAILURE(StartTenvar({.EnableLogging = c.EnableLogging, .Debug = c.Debug}));
    const CurlResult small = Fetch({OriginServer::Url("/small.txt")});
    EXPECT_EQ(small.Status, 200) << small.Stderr;
    ASSERT_TRUE(tenvar_->Stop());
    const std::string& console = tenvar_->ConsoleSoFar();
    EXPECT_EQ(
        console.find("HTTP: Contacting web server about 127.0.0.1/small.txt") != std::string::npos,
        c.SessionLines)
        << console;
    EXPECT_EQ(console.find("Getting request from browser") != std::string::npos, c.Diagnostics)
        << console;
  }
}

// Requests go to squid in absolute form, except those whose line holds an exclusion
// ("direct"), which go straight to the server; uploads of every framing arrive whole both ways.
TEST_F(HttpProxy, SendsThroughTheUpstreamProxyUnlessExcludedAndUploadsArriveByteForByte) {
  TENVAR_REQUIRE_PROGRAM("squid");
  UpstreamProxy upstream(dir_);
  ASSERT_TRUE(upstream.Running()) << upstream.Error();
  ASSERT_NO_FATAL_FAILURE(StartTenvar({.UseUpstream = true, .UpstreamExclusions = "direct\n"}));
  const CurlResult get = Fetch({OriginServer::Url("/echo")});
  EXPECT_EQ(get.Status, 200) << get.Stderr;
  EXPECT_NE(get.Body.find(UpstreamProxy::kVia), std::string::npos) << get.Body;
  const CurlResult head = Fetch({"-I", OriginServer::Url("/small.txt")});
  EXPECT_EQ(head.Status, 200) << head.Stderr;
  const CurlResult excluded = Fetch({OriginServer::Url("/echo?direct")});
  EXPECT_EQ(excluded.Status, 200) << excluded.Stderr;
  EXPECT_TRUE(
      std::regex_match(excluded.Body, std::regex("GET /echo\\?direct HTTP/1\\.1\n"
                                                 "Connection: close\nVia: 1\\.1 [^ ,]+:8080\n")))
      << excluded.Body;

  const std::string form = RandomBytes(300 * 1024, 1);
  const std::string file = RandomBytes(3 * 1024 * 1024, 2);
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
      // The origin's answer names the file it kept the body in.
      const std::string prefix = std::string(c.Method) + " stored=";
      ASSERT_TRUE(answer.Body.starts_with(prefix) && answer.Body.ends_with("\n")) << answer.Body;
      const std::string stored = platform::ReadFileText(
          answer.Body.substr(prefix.size(), answer.Body.size() - 1 - prefix.size()));
      EXPECT_EQ(stored.size(), c.Sent.size());
      EXPECT_TRUE(stored == c.Sent) << "the stored body differs";
    }
  }
  for (const char* logged :
       {" GET http://127.0.0.1:8081/echo ", " HEAD http://127.0.0.1:8081/small.txt ",
        " POST http://127.0.0.1:8081/store?upstream ",
        " PUT http://127.0.0.1:8081/store?upstream "}) {
    EXPECT_TRUE(upstream.WaitForLog(logged)) << upstream.Log();
  }
  EXPECT_EQ(upstream.Log().find("direct"), std::string::npos) << upstream.Log();
}

// Block file and trusted sites judge an HTTPS site by "host:port"; what they let through is
// tunnelled.
TEST_F(HttpProxy, TunnelsTlsThroughConnectJudgedByTheBlockFileAndTheTrustedSites) {
  TENVAR_REQUIRE_PROGRAM("openssl");
  TlsServer tls(dir_);
  ASSERT_TRUE(tls.Running()) << tls.Error();
  ASSERT_NO_FATAL_FAILURE(StartTenvar({.BlockFile = "localhost\n", .TrustedSites = ":8443\n"}));

  const CurlResult blocked = Fetch({"-k", "https://localhost:8443/"});
  EXPECT_NE(blocked.ExitCode, 0);
  EXPECT_TRUE(blocked.Headers.starts_with("HTTP/1.1 403 Forbidden\r\n"))
      << blocked.Headers << blocked.Stderr;
  const std::string untrusted =
      Exchange(kProxyPort, "CONNECT 127.0.0.1:8081 HTTP/1.1\r\nHost: 127.0.0.1:8081\r\n\r\n");
  EXPECT_EQ(untrusted, kForbiddenAnswer);
  const CurlResult allowed = Fetch({"-k", "https://127.0.0.1:8443/"});
  EXPECT_EQ(allowed.ExitCode, 0) << allowed.Stderr;
  EXPECT_EQ(allowed.Status, 200);
  // The first header block is the proxy's answer to CONNECT.
  EXPECT_TRUE(std::regex_search(allowed.Headers, std::regex(R"(^HTTP/1\.[01] 200 )")))
      << allowed.Headers;
  EXPECT_NE(allowed.Body.find("<HTML><BODY"), std::string::npos) << allowed.Body;
}

// Forwarded requests name this proxy in Via; one that comes back is a loop, answered at once.
TEST_F(HttpProxy, AnInstanceWhoseUpstreamIsItselfAnswersLoopDetected) {
  ASSERT_NO_FATAL_FAILURE(StartTenvar({.UseUpstream = true, .UpstreamPort = kProxyPort}));
  const CurlResult answer = Fetch({OriginServer::Url("/small.txt")});
  EXPECT_EQ(answer.Status, 508) << answer.Headers << answer.Stderr;
  ASSERT_TRUE(tenvar_->Stop());
  EXPECT_EQ(origin_->Log(), "");
}

// List and block files that are not small regular files: the program must treat them as
// missing, not wait on them, whether it meets them at start-up or in a session.
using ListFiles = OfficeTest;

TEST_F(ListFiles, FifosAsListAndBlockFilesHangNeitherARequestNorTheShutDown) {
  const std::string ini = WriteOfficeConfiguration(dir_, OfficeOptions{});
  // Nobody ever writes to these FIFOs: a blocking open or read would wait forever.
  const char* const fifos[] = {"block.txt", "direct.txt", "words.txt", "trusted.txt",
                               "nocache.txt"};
  for (const char* name : fifos) {
    const std::string path = dir_.File(name);
    std::filesystem::remove(path);
    ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0) << path;
  }
  ASSERT_NO_FATAL_FAILURE(StartTenvarWith(ini));

  for (int request = 0; request < 2; ++request) {
    const CurlResult answer = Fetch({OriginServer::Url("/echo")});
    EXPECT_EQ(answer.ExitCode, 0) << answer.Stderr;
    EXPECT_EQ(answer.Status, 200) << answer.Headers;
    EXPECT_TRUE(answer.Body.starts_with("GET /echo HTTP/1.1\n")) << answer.Body;
  }
  ASSERT_TRUE(tenvar_->Stop()) << tenvar_->Stderr();

  // Each file is reported once, not once per request.
  const std::string stderrText = tenvar_->Stderr();
  for (const char* name : fifos) {
    EXPECT_EQ(Occurrences(stderrText, config::RefusedFileMessage(dir_.File(name))), 1u)
        << name << "\n"
        << stderrText;
  }
}

// User and system time the process has used so far.
std::chrono::duration<double> CpuTime(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
  // Fields after the command name, which is in parentheses and may hold spaces.
  std::istringstream fields(text.substr(text.rfind(')') + 2));
  std::string field;
  for (int i = 3; i < 14; ++i) fields >> field;
  long long user = 0, system = 0;
  fields >> user >> system;
  return std::chrono::duration<double>(static_cast<double>(user + system) /
                                       static_cast<double>(::sysconf(_SC_CLK_TCK)));
}

// Many connections on a small machine: browsers that have not sent their request yet cost
// no thread, and running out of descriptors neither spins nor stops the proxy.
using Scale = OfficeTest;

TEST_F(Scale, IdleBrowsersHoldNoThreadAndRunningOutOfDescriptorsNeitherSpinsNorStopsTheProxy) {
  // The test holds thousands of connections itself.
  rlimit limit{};
  ::getrlimit(RLIMIT_NOFILE, &limit);
  limit.rlim_cur = limit.rlim_max;
  ::setrlimit(RLIMIT_NOFILE, &limit);
  ASSERT_NO_FATAL_FAILURE(StartTenvar());
  const pid_t pid = tenvar_->Child().Pid();
  std::vector<platform::UniqueFd> idle;
  for (int i = 0; i < 2000; ++i) idle.push_back(ConnectTo(kProxyPort));
  ASSERT_TRUE(std::all_of(idle.begin(), idle.end(), [](const auto& fd) { return fd.Valid(); }));
  const CurlResult page = Fetch({OriginServer::Url("/small.txt")});
  EXPECT_EQ(page.Status, 200) << page.Stderr;
  EXPECT_EQ(page.Body, origin_->Content("small.txt"));
  // The long-lived service threads and a session or two, not one per connection.
  const std::filesystem::directory_iterator tasks("/proc/" + std::to_string(pid) + "/task");
  EXPECT_LT(std::distance(begin(tasks), end(tasks)), 40);

  // Tenvar raised its own limit at start-up; from outside it is set below what it holds.
  const rlimit small{64, 64};
  ASSERT_EQ(::prlimit(pid, RLIMIT_NOFILE, &small, nullptr), 0);
  for (int i = 0; i < 10; ++i) idle.push_back(ConnectTo(kProxyPort));
  ASSERT_TRUE(tenvar_->WaitForConsole("Out of descriptors")) << tenvar_->ConsoleSoFar();
  const auto before = CpuTime(pid);
  const auto start = std::chrono::steady_clock::now();
  std::this_thread::sleep_for(1s);  // a span to measure over, not a wait for anything
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_LT((CpuTime(pid) - before).count() / seconds, 0.1);

  idle.clear();
  const CurlResult after = Fetch({OriginServer::Url("/small.txt")});
  EXPECT_EQ(after.Status, 200) << after.Stderr;
  ASSERT_TRUE(tenvar_->Stop());
  const std::string console = tenvar_->ConsoleSoFar();
  EXPECT_EQ(console.find("Listener stopped"), std::string::npos);
  // One line for the whole episode, not one per retry.
  const std::size_t first = console.find("Out of descriptors");
  EXPECT_EQ(console.find("Out of descriptors", first + 1), std::string::npos) << console;
}

}  // namespace
}  // namespace tenvar::e2e
