#include "ftpproxy/ftp_proxy_service.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "config/config_test_support.h"
#include "ftpproxy/control_text.h"
#include "platform/socket.h"
#include "tests/support/fake_ftp_server.h"

namespace tenvar::ftpproxy {
namespace {

using namespace std::chrono_literals;
using test::FakeFtpServer;
using test::Peer;

class RecordingDial : public dialup::DialManager {
 public:
  bool CheckConnected() override { return false; }
  void EnsureConnected() override { ++Ensured; }
  void ResetIdleTimer() override { ++Resets; }
  std::atomic<int> Ensured{0};
  std::atomic<int> Resets{0};
};

// The service on a port of its own, run on a thread until the test ends.
class FtpProxy : public ::testing::Test {
 protected:
  // `prepare` is given the service before its thread starts.
  void Start(bool dial = false, const std::function<void(FtpProxyService&)>& prepare = nullptr) {
    config::GlobalSettings settings;
    settings.Dial = dial;
    loaded_.configuration.Settings.Store(settings);
    service_.emplace(
        loaded_.configuration, exit_, dial_,
        [this](std::string_view line) {
          std::lock_guard lock(logLock_);
          log_.emplace_back(line);
        },
        [this](in_addr) { return lan_.load(); });
    service_->SetWakeObserver([this] { ++wakeUps_; });
    int error = 0;
    platform::UniqueFd listener = platform::OpenTcpListener(0, error);
    port_ = platform::LocalPort(listener.Get());
    ASSERT_TRUE(service_->Open(std::move(listener)));
    if (prepare) prepare(*service_);
    thread_ = std::jthread([this] { service_->Run(); });
  }

  void TearDown() override {
    exit_.Signal();
    if (thread_.joinable()) thread_.join();
  }

  std::vector<std::string> Log() const {
    std::lock_guard lock(logLock_);
    return log_;
  }

  // Whether the service logs `line` within the patience.
  bool Logged(const std::string& line) const {
    for (int tries = 0; tries < 1000; ++tries) {
      if (std::ranges::count(Log(), line) > 0) return true;
      std::this_thread::sleep_for(10ms);
    }
    return false;
  }

  // A client that has been greeted and has opened `server`.
  Peer OpenClient(const FakeFtpServer& server) {
    Peer client = Peer::ConnectTo(port_);
    EXPECT_TRUE(client.Line().starts_with("220 Tenvar FTP Proxy server ready. "));
    client.Send("OPEN 127.0.0.1 " + std::to_string(server.Port()) + "\r\n");
    EXPECT_EQ(client.Line(), "220 127.0.0.1 opened OK.\r\n");
    return client;
  }

  config::LoadedConfiguration loaded_{""};
  platform::ExitEvent exit_;
  RecordingDial dial_;
  std::atomic<bool> lan_{true};
  std::atomic<int> wakeUps_{0};
  mutable std::mutex logLock_;
  std::vector<std::string> log_;
  std::optional<FtpProxyService> service_;
  std::uint16_t port_ = 0;
  std::jthread thread_;
};

// Outside the LAN a connection is closed unanswered; inside it, with the line down, the
// client is told to come back while the line is dialled.
TEST_F(FtpProxy, RefusesClientsOutsideTheLanAndWithTheLineDownDialsAndTellsThemToComeBack) {
  ASSERT_NO_FATAL_FAILURE(Start(/*dial=*/true));
  lan_ = false;
  bool closed = false;
  EXPECT_EQ(Peer::ConnectTo(port_).ReadToEnd(&closed), "");
  EXPECT_TRUE(closed);
  EXPECT_TRUE(Logged("Refused connection from 127.0.0.1"));
  EXPECT_EQ(dial_.Ensured, 0);

  lan_ = true;
  EXPECT_EQ(Peer::ConnectTo(port_).ReadToEnd(&closed),
            "430 Not connected to Internet, connecting now - try again in a short while\r\n");
  EXPECT_TRUE(closed);
  EXPECT_EQ(dial_.Ensured, 1);
  EXPECT_EQ(service_->SessionCount(), 0u);
}

// Before a server is open only OPEN, QUIT and USER name@host are served, and a server that is
// busy is a 550. After, the data commands the proxy cannot serve never reach the server. A
// session ends when its client quits or leaves, and every one left ends when the service stops.
TEST_F(FtpProxy, CommandsItCannotServeAreAnsweredWithoutTheServerAndEitherSideEndsASession) {
  FakeFtpServer busy("421 Too many users\r\n");
  FakeFtpServer server("220-Welcome\r\n220-to the server\r\n220 Ready\r\n");
  ASSERT_NO_FATAL_FAILURE(Start());
  const std::pair<std::string, std::string> exchanges[] = {
      {"USER ann", "503 Use OPEN host first"},
      {"OPEN 127.0.0.1 " + std::to_string(busy.Port()), "550 Error from origin server"},
      {"USER ann@127.0.0.1:" + std::to_string(busy.Port()), "550 Error from origin server"},
      {"OPEN", "550 Error from origin server"},
      {"user me@home@localhost:" + std::to_string(server.Port()), "331 Password please"},
      {"EPSV ALL", "200 EPSV ALL command successful"},
      {"EPSV 2", "522 Network protocol not supported, use (1)"},
      {"EPSV any", "501 Syntax error in EPSV command"},
      {"EPRT |2|::1|5000|", "522 Network protocol not supported, use (1)"},
      {"EPRT |1|127.0.0.1|", "501 Syntax error in EPRT command"},
      {"EPRT |1|127.0.0.1|80|", "500 Illegal PORT command"},
      {"PORT 127,0,0,1,3,255", "500 Illegal PORT command"},
      {"PORT 10,0,0,1,200,1", "500 Illegal PORT command"},
      {"EPRT |1|10.0.0.2|5000|", "500 Illegal PORT command"},
      {"PORT 1,2,3", "501 Syntax error in PORT command"},
      {"LPSV", "502 Command not implemented"},
      {"NOOP", "500 Unknown"},
  };
  Peer client = Peer::ConnectTo(port_);
  client.Line();
  for (const auto& [command, reply] : exchanges) {
    client.Send(command + "\r\n");
    EXPECT_EQ(client.Line(), reply + "\r\n") << command;
  }
  client.Send("FEAT\r\n");  // a reply of several lines reaches the client whole
  for (const char* line : {"211-Features:\r\n", " SIZE\r\n", "211 End\r\n"}) {
    EXPECT_EQ(client.Line(), line);
  }
  EXPECT_EQ(server.Commands(), (std::vector<std::string>{"USER me@home", "NOOP", "FEAT"}));
  EXPECT_TRUE(Logged("FTP: Connection to localhost"));
  EXPECT_TRUE(Logged("FTP: Illegal PORT command from 127.0.0.1 naming 10.0.0.1:51201"));
  EXPECT_TRUE(Logged("FTP: Illegal EPRT command from 127.0.0.1 naming 127.0.0.1:80"));

  client.Send("QUIT\r\n");
  EXPECT_EQ(client.Line(), "221 Bye\r\n");
  EXPECT_TRUE(client.Closed());
  // The service closes a session's client connection only when it drops the session.
  EXPECT_EQ(service_->SessionCount(), 0u);
  Peer unopened = Peer::ConnectTo(port_);
  EXPECT_TRUE(unopened.Line().starts_with("220 Tenvar FTP Proxy server ready. "));
  unopened.Send("QUIT\r\n");
  EXPECT_EQ(unopened.Line(), "221 Goodbye\r\n");
  EXPECT_TRUE(unopened.Closed());
  {
    Peer leaving = OpenClient(server);
    EXPECT_EQ(service_->SessionCount(), 1u);
  }
  // The server takes one conversation at a time: the one who left has ended.
  Peer remaining = OpenClient(server);
  EXPECT_EQ(service_->SessionCount(), 1u);
  exit_.Signal();
  thread_.join();
  EXPECT_EQ(service_->SessionCount(), 0u);
  EXPECT_TRUE(remaining.Closed());
}

// Lowers this process's soft limit on descriptors while it lives, and takes every one still
// free under it: the service, on a thread of this process, then has none to accept with.
class DescriptorsUsedUp {
 public:
  explicit DescriptorsUsedUp(int sample) {
    ::getrlimit(RLIMIT_NOFILE, &saved_);
    rlimit lowered = saved_;
    lowered.rlim_cur = static_cast<rlim_t>(platform::UniqueFd(::dup(0)).Get() + 16);
    ::setrlimit(RLIMIT_NOFILE, &lowered);
    for (int copy = ::dup(sample); copy >= 0; copy = ::dup(sample)) taken_.emplace_back(copy);
    exhausted_ = errno == EMFILE;
  }
  ~DescriptorsUsedUp() {
    taken_.clear();
    ::setrlimit(RLIMIT_NOFILE, &saved_);
  }

  bool Exhausted() const { return exhausted_; }

 private:
  rlimit saved_{};
  std::vector<platform::UniqueFd> taken_;
  bool exhausted_ = false;
};

std::chrono::nanoseconds ThreadCpuTime(std::jthread& thread) {
  clockid_t clock{};
  timespec used{};
  ::pthread_getcpuclockid(thread.native_handle(), &clock);
  ::clock_gettime(clock, &used);
  return std::chrono::seconds(used.tv_sec) + std::chrono::nanoseconds(used.tv_nsec);
}

TEST_F(FtpProxy, WithNoDescriptorLeftItRestsInsteadOfSpinningAndServesOnceSomeAreFreed) {
  FakeFtpServer server("220 Ready\r\n", {{"f", "rested bytes"}});
  ASSERT_NO_FATAL_FAILURE(Start());
  Peer client = OpenClient(server);
  client.Send("EPSV\r\n");
  const std::string reply = client.Line();
  ASSERT_TRUE(reply.starts_with("229 Entering Extended Passive Mode (|||")) << reply;
  const auto dataPort = static_cast<std::uint16_t>(std::stoi(reply.substr(reply.find("|||") + 3)));

  // Every accept fails while the connection waits: the service must not retry at once.
  const auto restsWhileWaiting = [&](const platform::UniqueFd& socket, std::uint16_t port,
                                     const std::string& logged) {
    DescriptorsUsedUp used(socket.Get());
    ASSERT_TRUE(used.Exhausted());
    const sockaddr_in address = test::LoopbackAddress(port);
    // A socket made before descriptors ran out, connected after: connecting takes none.
    ASSERT_EQ(::connect(socket.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address),
              0);
    ASSERT_TRUE(Logged(logged)) << ::testing::PrintToString(Log());
    const int first = wakeUps_;
    const auto wallBefore = std::chrono::steady_clock::now();
    const std::chrono::nanoseconds cpuBefore = ThreadCpuTime(thread_);
    for (int tries = 0; wakeUps_ < first + 6 && tries < 10000; ++tries) {
      std::this_thread::sleep_for(1ms);
    }
    ASSERT_GE(wakeUps_, first + 6);
    const auto wall = std::chrono::steady_clock::now() - wallBefore;
    const std::chrono::nanoseconds cpu = ThreadCpuTime(thread_) - cpuBefore;
    // A rest is 100 ms and costs two wake-ups (its end, and the failing accept).
    EXPECT_GE(wall, 200ms) << "six wake-ups came within " << wall.count() << " ns";
    EXPECT_LT(cpu * 10, wall) << cpu.count() << " ns of CPU in " << wall.count() << " ns";
  };
  platform::UniqueFd data(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  ASSERT_NO_FATAL_FAILURE(restsWhileWaiting(
      data, dataPort, "FTP service cannot accept data connections for now: Too many open files"));
  client.Send("RETR f\r\n");
  EXPECT_EQ(client.Line(), "150 Here it comes\r\n");
  bool closed = false;
  EXPECT_EQ(Peer(std::move(data)).ReadToEnd(&closed), "rested bytes");
  EXPECT_TRUE(closed);
  EXPECT_EQ(client.Line(), "226 Transfer complete\r\n");
  // Asked with PASV, the server named an address it is not on: only its port was used.
  EXPECT_EQ(server.Commands(), (std::vector<std::string>{"PASV", "RETR f"}));

  platform::UniqueFd other(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  ASSERT_NO_FATAL_FAILURE(restsWhileWaiting(
      other, port_, "FTP service cannot accept connections for now: Too many open files"));
  EXPECT_TRUE(Peer(std::move(other)).Line().starts_with("220 Tenvar FTP Proxy server ready. "));
  // Once for each run of failures.
  EXPECT_EQ(std::ranges::count_if(Log(),
                                  [](const std::string& line) {
                                    return line.starts_with("FTP service cannot accept");
                                  }),
            2);
}

// A new data command closes the pair of the one before; a client that then takes none of a
// transfer for the stall limit loses its session.
TEST_F(FtpProxy, ANewDataCommandClosesThePreviousPairAndAStalledClientLosesItsSession) {
  FakeFtpServer server("220 Ready\r\n", {{"big", std::string(32 << 20, 'x')}});
  ASSERT_NO_FATAL_FAILURE(
      Start(false, [](FtpProxyService& service) { service.SetSendStallLimit(1s); }));
  Peer client = OpenClient(server);
  client.Send("PASV\r\n");
  const std::string reply = client.Line();
  // The proxy serves it at its own address, not at the one the server named.
  ASSERT_TRUE(reply.starts_with("227 Entering Passive Mode (127,0,0,1,")) << reply;
  Peer first = Peer::ConnectTo(ParsePassiveReply(reply).value().Port);
  ASSERT_TRUE(first.Valid());
  int error = 0;
  const platform::UniqueFd dataListener = platform::OpenTcpListener(0, error);
  client.Send(PortCommand({test::Loopback(), platform::LocalPort(dataListener.Get())}));
  EXPECT_EQ(client.Line(), "200 PORT ok\r\n");
  EXPECT_TRUE(first.Closed());

  client.Send("RETR big\r\n");
  EXPECT_EQ(client.Line(), "150 Here it comes\r\n");
  Peer data(test::AcceptWithin(dataListener.Get()));  // and never read until the session ended
  ASSERT_TRUE(Logged("FTP: Session of 127.0.0.1 ended: its client took nothing for 1 s"))
      << ::testing::PrintToString(Log());
  bool closed = false;
  data.ReadToEnd(&closed);
  EXPECT_TRUE(closed);
  EXPECT_EQ(client.ReadToEnd(&closed), "");
  EXPECT_TRUE(closed);
  EXPECT_EQ(service_->SessionCount(), 0u);
  EXPECT_GT(dial_.Resets, 0);
}

}  // namespace
}  // namespace tenvar::ftpproxy
