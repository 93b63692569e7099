// Whole sessions on a socket pair, with loopback peers: the answer a session writes, how
// ftp:// items reach the browser, and how a browser that stops reading ends its session.
#include "http/session_pipeline.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>

#include <filesystem>
#include <fstream>
#include <future>
#include <mutex>

#include "cache/cache_path.h"
#include "config/config_test_support.h"
#include "http/ftp_retrieval.h"
#include "platform/socket.h"
#include "tests/support/fake_ftp_server.h"
#include "tests/support/loopback.h"

namespace tenvar::http {
namespace {

using namespace std::chrono_literals;

// Far more than the socket buffers between the origin and a browser that reads nothing.
constexpr std::size_t kAnswerBytes = 32 * 1024 * 1024;

class NoDial : public dialup::DialManager {
 public:
  bool CheckConnected() override { return true; }
  void EnsureConnected() override {}
  void ResetIdleTimer() override {}
};

// A web server for one request: it answers with a large body and reports whether the
// proxy closed the connection before taking all of it. Every wait is bounded.
class BigAnswerOrigin {
 public:
  BigAnswerOrigin() : closedEarly_(std::async(std::launch::async, [this] { return Serve(); })) {}
  std::uint16_t Port() const { return platform::LocalPort(listener_.Get()); }
  // True when the proxy's socket closed part way through the answer.
  bool ClosedEarly() { return closedEarly_.get(); }

 private:
  bool Serve() {
    const platform::UniqueFd proxy = test::AcceptWithin(listener_.Get(), 20s);
    std::string answer = "HTTP/1.0 200 OK\r\nContent-Length: " + std::to_string(kAnswerBytes) +
                         "\r\nCache-Control: max-age=3600\r\n\r\n";
    answer.append(kAnswerBytes, 'b');
    std::string_view rest = answer;
    while (proxy.Valid() && !rest.empty()) {
      pollfd entry{proxy.Get(), POLLOUT, 0};
      if (::poll(&entry, 1, 20'000) != 1) return false;  // the proxy neither reads nor closes
      const ssize_t sent =
          ::send(proxy.Get(), rest.data(), rest.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
      if (sent < 0 && errno == EAGAIN) continue;
      if (sent <= 0) return true;
      rest.remove_prefix(static_cast<std::size_t>(sent));
    }
    return false;
  }

  const platform::UniqueFd listener_ = test::ListenOnLoopback();
  std::future<bool> closedEarly_;
};

class SessionTest : public ::testing::Test {
 protected:
  // As the program does: a session splices answers only when a reader that went away cannot
  // raise SIGPIPE.
  void SetUp() override { ::signal(SIGPIPE, SIG_IGN); }

  // Starts a session for `request` on a thread of its own; `browser` gets the browser's end.
  std::future<void> StartSession(const config::HttpProxyOptions& options,
                                 const std::string& request, platform::UniqueFd& browser) {
    {
      std::lock_guard lock(linesLock_);
      lines_.clear();
    }
    config::GlobalSettings settings;
    settings.CacheDir = loaded_.dir.File("cache");
    settings.TempDir = loaded_.dir.File("Temp");
    loaded_.configuration.Settings.Store(settings);
    int pair[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, pair) != 0) return {};
    browser.Reset(pair[0]);
    // Room for the answer's first block, so that a stall comes in the body's relay (the
    // pipe's drain, when spliced), not at once.
    const int window = 64 * 1024;
    ::setsockopt(pair[1], SOL_SOCKET, SO_SNDBUF, &window, sizeof window);
    EXPECT_TRUE(test::SendAll(pair[0], request));
    HttpSession session;
    session.Config = std::make_shared<config::HttpProxyConfig>(options);
    session.BrowserSocket = platform::UniqueFd(pair[1]);
    session.ClientAddress = "127.0.0.1";
    return std::async(std::launch::async, [&, s = std::move(session)]() mutable {
      RunHttpSession(context_, std::move(s));
    });
  }

  // The whole answer to `method` for an ftp:// item on the loopback `port`.
  std::string Retrieve(std::uint16_t port, const std::string& path, const char* method = "GET") {
    platform::UniqueFd browser;
    std::future<void> ended =
        StartSession({},
                     std::string(method) + " ftp://127.0.0.1:" + std::to_string(port) + "/" + path +
                         " HTTP/1.0\r\n\r\n",
                     browser);
    std::string answer = test::ReadUntilClosed(browser.Get(), test::kPatience);
    if (ended.valid()) ended.get();
    return answer;
  }

  bool Logged(std::string_view text) {
    std::lock_guard lock(linesLock_);
    return lines_.find(text) != std::string::npos;
  }

  config::LoadedConfiguration loaded_{""};
  platform::ExitEvent exit_;
  NoDial dial_;
  std::mutex logLock_;
  std::mutex linesLock_;
  std::string lines_;
  std::atomic<std::uint32_t> requests_{0};
  std::atomic<std::uint32_t> hits_{0};
  std::atomic<std::int32_t> cacheItems_{0};
  std::atomic<double> cacheSize_{0};
  SessionContext context_{loaded_.configuration,
                          exit_,
                          dial_,
                          [this](std::string_view line) {
                            std::lock_guard lock(linesLock_);
                            lines_.append(line).append("\n");
                          },
                          logLock_,
                          requests_,
                          hits_,
                          cacheItems_,
                          cacheSize_,
                          [](const std::string&) { return std::nullopt; },
                          {},
                          [] { return false; },
                          200ms};
};
using SendStall = SessionTest;
using FtpRetrievalTest = SessionTest;

// The passive reply names an address the server is not on: the data connection must go to
// the control connection's address all the same. No temporary file is left behind, and a
// server that cannot be reached is a 502.
TEST_F(FtpRetrievalTest, FetchesAFileInImageTypeOverAPassiveConnectionAndAHeadGetsNoBody) {
  int error = 0;
  const std::uint16_t closedPort = platform::LocalPort(platform::OpenTcpListener(0, error).Get());
  EXPECT_TRUE(Retrieve(closedPort, "f").starts_with("HTTP/1.0 502 Bad Gateway\r\n"));

  std::string bytes(70000, '\0');
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i % 253);
  test::FakeFtpServer server("220 Scripted\r\n",
                             {{"/pub/f.bin", bytes}, {"/notes.txt", "some notes"}});
  const std::string answer = Retrieve(server.Port(), "pub/f.bin");
  EXPECT_TRUE(answer ==
              "HTTP/1.0 200 OK\r\nContent-Type: application/octet-stream\r\nContent-Length: 70000"
              "\r\nConnection: close\r\n\r\n" +
                  bytes)
      << answer.substr(0, 200);
  ASSERT_TRUE(server.WaitForConversations(1));
  EXPECT_EQ(server.Commands(),
            (std::vector<std::string>{
                "USER anonymous", "PASS -" + std::string(kAnonymousFtpPassword), "PWD",
                "SIZE /pub/f.bin", "TYPE I", "PASV", "RETR /pub/f.bin", "QUIT"}));
  EXPECT_TRUE(std::filesystem::is_empty(loaded_.dir.File("Temp")));

  EXPECT_EQ(Retrieve(server.Port(), "notes.txt", "HEAD"),
            "HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\nContent-Length: 10\r\n"
            "Connection: close\r\n\r\n");
}

// A relayed answer ends the session with both sockets closed, a cache hit with the browser's.
TEST_F(SendStall, AnAnswerTheBrowserDoesNotTakeEndsTheSession) {
  const struct {
    const char* name;
    bool useCache;
    bool abuseDetection;
    bool fromCache;
  } cases[] = {
      {"spliced straight through", false, false, false},
      {"searched for keywords", false, true, false},
      {"written to the cache", true, false, false},
      {"served from the cache", true, false, true},
  };
  const std::string keywords = loaded_.dir.Write("keywords.txt", "casino\n");
  // An item from before headers were kept beside items: served with a guessed type.
  const std::optional<std::string> item =
      cache::CachePathFor(loaded_.dir.File("cache"), "127.0.0.1", 80, "/big.bin");
  ASSERT_TRUE(item);
  std::filesystem::create_directories(std::filesystem::path(*item).parent_path());
  std::ofstream(*item, std::ios::binary) << std::string(8 * 1024 * 1024, 'c');
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    config::HttpProxyOptions options;
    options.EnableLogging = true;
    options.Debug = true;
    options.UseCache = c.useCache;
    options.AbuseDetection = c.abuseDetection;
    options.AbuseKeywords = keywords;
    std::optional<BigAnswerOrigin> origin;
    if (!c.fromCache) origin.emplace();
    const std::string host = origin ? "127.0.0.1:" + std::to_string(origin->Port()) : "127.0.0.1";
    platform::UniqueFd browser;
    std::future<void> ended =
        StartSession(options, "GET http://" + host + "/big.bin HTTP/1.0\r\n\r\n", browser);
    ASSERT_TRUE(ended.valid());
    if (ended.wait_for(30s) != std::future_status::ready) {
      ADD_FAILURE() << "the session did not end by itself";
      exit_.Signal();
    }
    ended.get();
    bool closed = false;
    test::ReadUntilClosed(browser.Get(), test::kPatience, &closed);
    EXPECT_TRUE(closed);
    if (origin) {
      EXPECT_TRUE(origin->ClosedEarly());
    } else {
      EXPECT_TRUE(Logged("HTTP: Retrieved 127.0.0.1/big.bin from cache"));
    }
    EXPECT_TRUE(Logged("The browser took nothing for 0.2 s"));
    EXPECT_FALSE(exit_.IsSignalled());
  }
}

}  // namespace
}  // namespace tenvar::http
