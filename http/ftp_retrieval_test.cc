#include "http/ftp_retrieval.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>

#include <atomic>
#include <filesystem>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "config/config_test_support.h"
#include "http/proxy_answer.h"
#include "platform/socket.h"

namespace tenvar::http {
namespace {

using namespace std::chrono_literals;

const std::string kAnonymousPass = "PASS -" + std::string(kAnonymousFtpPassword);

TEST(ParseDirectoryReply, TakesTheQuotedNameWithDoubledQuotesAsOne) {
  EXPECT_EQ(ParseDirectoryReply("257 \"/home/ann\" is the current directory\r\n"), "/home/ann");
  EXPECT_EQ(ParseDirectoryReply("257 \"/say \"\"hi\"\"\" created\r\n"), "/say \"hi\"");
  EXPECT_EQ(ParseDirectoryReply("257 /no/quotes\r\n"), std::nullopt);
  EXPECT_EQ(ParseDirectoryReply("257 \"/unterminated\r\n"), std::nullopt);
}

TEST(FtpPathIn, JoinsTheUrlPathToTheLoginDirectory) {
  EXPECT_EQ(FtpPathIn("/", "pub/f.txt"), "/pub/f.txt");
  EXPECT_EQ(FtpPathIn("/home/ann", "f.txt"), "/home/ann/f.txt");
  EXPECT_EQ(FtpPathIn("/home/ann", ""), "/home/ann");
  EXPECT_EQ(FtpPathIn("/", ""), "/");
}

TEST(FtpPassCommand, PutsTheDashBeforeTheAnonymousDefaultOnly) {
  EXPECT_EQ(FtpPassCommand("anonymous", kAnonymousFtpPassword),
            "PASS -" + std::string(kAnonymousFtpPassword) + "\r\n");
  EXPECT_EQ(FtpPassCommand("ann", "secret"), "PASS secret\r\n");
  EXPECT_EQ(FtpPassCommand("anonymous", "me@home"), "PASS me@home\r\n");
}

// Reads from `fd` until the peer closes or the time runs out.
std::string ReadAll(int fd) {
  std::string text;
  char block[16384];
  for (;;) {
    pollfd entry{fd, POLLIN, 0};
    if (::poll(&entry, 1, 5000) <= 0) return text;
    const ssize_t got = ::recv(fd, block, sizeof block, 0);
    if (got <= 0) return text;
    text.append(block, static_cast<std::size_t>(got));
  }
}

// A passive-mode FTP server on a loopback port with a few files and directories, serving
// one control connection and recording the commands it was sent.
class ScriptedFtpServer {
 public:
  ScriptedFtpServer(std::map<std::string, std::string> files, std::string passReply)
      : files_(std::move(files)), passReply_(std::move(passReply)) {
    int error = 0;
    listener_ = platform::OpenTcpListener(0, error);
    port_ = platform::LocalPort(listener_.Get());
    thread_ = std::jthread([this] { Serve(); });
  }
  std::uint16_t Port() const { return port_; }
  // Waits for the conversation to end first.
  std::vector<std::string> Commands() {
    if (thread_.joinable()) thread_.join();
    return commands_;
  }

 private:
  platform::UniqueFd Accept(const platform::UniqueFd& listener) {
    pollfd entry{listener.Get(), POLLIN, 0};
    if (::poll(&entry, 1, 5000) <= 0) return platform::UniqueFd();
    std::optional<platform::AcceptedConnection> accepted =
        platform::AcceptConnection(listener.Get());
    return accepted ? std::move(accepted->Fd) : platform::UniqueFd();
  }

  // A listener that 127.0.0.3 does not reach, unlike one on every address.
  static platform::UniqueFd ListenOn127001() {
    platform::UniqueFd socket(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(socket.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(socket.Get(), 1) != 0) {
      socket.Reset();
    }
    return socket;
  }

  static void Send(int fd, std::string_view text) {
    ::send(fd, text.data(), text.size(), MSG_NOSIGNAL);
  }

  void Serve() {
    platform::UniqueFd control = Accept(listener_);
    if (!control.Valid()) return;
    Send(control.Get(), "220 Scripted\r\n");
    platform::UniqueFd passive;
    std::string received;
    for (;;) {
      std::size_t end = received.find("\r\n");
      while (end == std::string::npos) {
        pollfd entry{control.Get(), POLLIN, 0};
        char block[4096];
        if (::poll(&entry, 1, 5000) <= 0) return;
        const ssize_t got = ::recv(control.Get(), block, sizeof block, 0);
        if (got <= 0) return;
        received.append(block, static_cast<std::size_t>(got));
        end = received.find("\r\n");
      }
      const std::string line = received.substr(0, end);
      received.erase(0, end + 2);
      commands_.push_back(line);
      const std::string word = line.substr(0, line.find(' '));
      const std::string argument = line.size() > word.size() ? line.substr(word.size() + 1) : "";
      if (word == "USER") {
        Send(control.Get(), "331 Password please\r\n");
      } else if (word == "PASS") {
        Send(control.Get(), passReply_);
      } else if (word == "PWD") {
        Send(control.Get(), "257 \"/\" is the current directory\r\n");
      } else if (word == "SIZE") {
        const auto file = files_.find(argument);
        Send(control.Get(), file != files_.end() && file->first.back() != '/'
                                ? "213 " + std::to_string(file->second.size()) + "\r\n"
                                : "550 Could not get file size.\r\n");
      } else if (word == "CWD") {
        cwd_ = argument + "/";
        Send(control.Get(), files_.contains(cwd_) ? "250 Okay\r\n" : "550 No such directory\r\n");
      } else if (word == "TYPE") {
        Send(control.Get(), "200 Type set\r\n");
      } else if (word == "PASV") {
        // The reply names another address than the one this server listens on: the data
        // connection must go to the control connection's address all the same.
        passive = ListenOn127001();
        const std::uint16_t port = platform::LocalPort(passive.Get());
        Send(control.Get(), "227 Entering Passive Mode (127,0,0,3," + std::to_string(port / 256) +
                                "," + std::to_string(port % 256) + ").\r\n");
      } else if (word == "RETR" || word == "LIST") {
        const auto file = files_.find(word == "LIST" ? cwd_ : argument);
        if (file == files_.end()) {
          Send(control.Get(), "550 Failed to open file.\r\n");
          continue;
        }
        platform::UniqueFd data = Accept(passive);
        Send(control.Get(), "150 Here it comes\r\n");
        std::string_view rest = file->second;
        while (!rest.empty()) {
          const ssize_t sent = ::send(data.Get(), rest.data(), rest.size(), MSG_NOSIGNAL);
          if (sent <= 0) break;
          rest.remove_prefix(static_cast<std::size_t>(sent));
        }
        data.Reset();
        Send(control.Get(), "226 Done\r\n");
      } else if (word == "QUIT") {
        Send(control.Get(), "221 Bye\r\n");
        return;
      } else {
        Send(control.Get(), "500 Unknown\r\n");
      }
    }
  }

  std::map<std::string, std::string> files_;  // "/dir/" keys hold a directory's listing
  std::string passReply_;
  std::string cwd_;
  platform::UniqueFd listener_;
  std::uint16_t port_ = 0;
  std::vector<std::string> commands_;
  std::jthread thread_;
};

class RecordingDial : public dialup::DialManager {
 public:
  bool CheckConnected() override { return false; }
  void EnsureConnected() override { ++Ensured; }
  void ResetIdleTimer() override {}
  std::atomic<int> Ensured{0};
};

// A browser's ftp:// request as the analysis leaves it, served on a thread of its own;
// the test reads the answer from the browser's end of a socket pair.
class FtpRetrievalTest : public ::testing::Test {
 protected:
  std::string Retrieve(std::uint16_t port, std::string path, bool dial = false,
                       MethodCode method = MethodCode::Get) {
    config::GlobalSettings settings;
    settings.Dial = dial;
    settings.TempDir = loaded_.dir.File("Temp");
    loaded_.configuration.Settings.Store(settings);
    int pair[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) return "";
    platform::UniqueFd browser(pair[0]);
    HttpSession session;
    config::HttpProxyOptions options;
    options.EnableLogging = true;
    options.Debug = true;
    session.Config = std::make_shared<config::HttpProxyConfig>(options);
    session.Options = session.Config->Options();
    session.BrowserSocket = platform::UniqueFd(pair[1]);
    session.Code = method;
    session.Kind = UrlKind::Ftp;
    session.Host = "127.0.0.1";
    session.Port = port;
    session.Path = std::move(path);
    session.FtpUser = "anonymous";
    session.FtpPassword = kAnonymousFtpPassword;
    std::jthread retrieval([this, session = std::move(session)]() mutable {
      RetrieveFtpItem(context_, session);
    });
    return ReadAll(browser.Get());
  }

  // True when no temporary file is left (the directory need not have been made).
  bool TempDirIsEmpty() const {
    const std::string tempDir = loaded_.dir.File("Temp");
    std::error_code error;
    return !std::filesystem::exists(tempDir, error) || std::filesystem::is_empty(tempDir, error);
  }

  config::LoadedConfiguration loaded_{""};
  platform::ExitEvent exit_;
  RecordingDial dial_;
  std::mutex logLock_;
  std::atomic<std::uint32_t> requests_{0};
  std::atomic<std::uint32_t> hits_{0};
  std::atomic<std::int32_t> cacheItems_{0};
  std::atomic<double> cacheSize_{0};
  SessionContext context_{loaded_.configuration, exit_, dial_, [](std::string_view) {},
                          logLock_, requests_, hits_, cacheItems_, cacheSize_, {}, {}, {}};
};

TEST_F(FtpRetrievalTest, FetchesAFileInImageTypeOverAPassiveConnection) {
  std::string bytes(70000, '\0');
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i % 253);
  ScriptedFtpServer server({{"/pub/f.bin", bytes}}, "230 Welcome\r\n");
  const std::string answer = Retrieve(server.Port(), "pub/f.bin");
  EXPECT_TRUE(answer ==
              "HTTP/1.0 200 OK\r\nContent-Type: application/octet-stream\r\nContent-Length: 70000"
              "\r\nConnection: close\r\n\r\n" + bytes)
      << answer.substr(0, 200);
  EXPECT_EQ(server.Commands(),
            (std::vector<std::string>{"USER anonymous", kAnonymousPass,
                                      "PWD", "SIZE /pub/f.bin", "TYPE I", "PASV",
                                      "RETR /pub/f.bin", "QUIT"}));
  EXPECT_TRUE(std::filesystem::is_directory(loaded_.dir.File("Temp")));
  EXPECT_TRUE(TempDirIsEmpty());
}

TEST_F(FtpRetrievalTest, ListsADirectoryAsPlainText) {
  const std::string listing = "-rw-r--r-- 1 ftp ftp 6 Jan 1 00:00 a.txt\r\n";
  ScriptedFtpServer server({{"/pub/", listing}}, "230 Welcome\r\n");
  const std::string answer = Retrieve(server.Port(), "pub");
  EXPECT_EQ(answer, "HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\nContent-Length: " +
                        std::to_string(listing.size()) + "\r\nConnection: close\r\n\r\n" + listing);
  EXPECT_EQ(server.Commands(),
            (std::vector<std::string>{"USER anonymous", kAnonymousPass,
                                      "PWD", "SIZE /pub", "CWD /pub", "TYPE A", "PASV", "LIST",
                                      "QUIT"}));
}

TEST_F(FtpRetrievalTest, AnEmptyFileIsAnAnswerWithoutBody) {
  ScriptedFtpServer server({{"/empty", ""}}, "230 Welcome\r\n");
  EXPECT_EQ(Retrieve(server.Port(), "empty"),
            "HTTP/1.0 200 OK\r\nContent-Type: application/octet-stream\r\nContent-Length: 0\r\n"
            "Connection: close\r\n\r\n");
  EXPECT_TRUE(TempDirIsEmpty());
}

TEST_F(FtpRetrievalTest, AHeadRequestGetsTheHeaderAlone) {
  ScriptedFtpServer server({{"/notes.txt", "some notes"}}, "230 Welcome\r\n");
  EXPECT_EQ(Retrieve(server.Port(), "notes.txt", false, MethodCode::Head),
            "HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\nContent-Length: 10\r\n"
            "Connection: close\r\n\r\n");
}

TEST_F(FtpRetrievalTest, ARefusedLoginIsA502WithTheServersReply) {
  ScriptedFtpServer server({}, "530 Login incorrect.\r\n");
  EXPECT_EQ(Retrieve(server.Port(), "f"),
            ProxyAnswer("502 Bad Gateway", "530 Login incorrect.\r\n"));
}

TEST_F(FtpRetrievalTest, AMissingFileIsA502WithTheServersReply) {
  ScriptedFtpServer server({}, "230 Welcome\r\n");
  EXPECT_EQ(Retrieve(server.Port(), "missing"),
            ProxyAnswer("502 Bad Gateway", "550 Failed to open file.\r\n"));
  EXPECT_TRUE(TempDirIsEmpty());
}

TEST_F(FtpRetrievalTest, AServerThatCannotBeReachedIsA502) {
  int error = 0;
  const std::uint16_t closedPort = platform::LocalPort(platform::OpenTcpListener(0, error).Get());
  const std::string answer = Retrieve(closedPort, "f");
  EXPECT_TRUE(answer.starts_with("HTTP/1.0 502 Bad Gateway\r\n")) << answer;
}

TEST_F(FtpRetrievalTest, WithTheLineDownStartsDiallingAndAsksTheBrowserToWait) {
  // No server listens: the answer comes before any connect is tried.
  int error = 0;
  const std::uint16_t closedPort = platform::LocalPort(platform::OpenTcpListener(0, error).Get());
  EXPECT_EQ(Retrieve(closedPort, "f", /*dial=*/true),
            ProxyAnswer("503 Service Unavailable",
                        "Connecting to the Internet, please try again shortly"));
  EXPECT_EQ(dial_.Ensured, 1);
}

}  // namespace
}  // namespace tenvar::http
