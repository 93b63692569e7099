#include "http/ftp_retrieval.h"

#include <gtest/gtest.h>
#include <sys/socket.h>

#include <atomic>
#include <filesystem>
#include <mutex>
#include <thread>
#include <vector>

#include "config/config_test_support.h"
#include "platform/socket.h"
#include "tests/support/fake_ftp_server.h"

namespace tenvar::http {
namespace {

using namespace std::chrono_literals;

const std::string kAnonymousPass = "PASS -" + std::string(kAnonymousFtpPassword);

TEST(FtpRetrievalText, ReadsTheLoginDirectoryAndWritesPathsAndPasswords) {
  EXPECT_EQ(ParseDirectoryReply("257 \"/home/ann\" is the current directory\r\n"), "/home/ann");
  EXPECT_EQ(ParseDirectoryReply("257 \"/say \"\"hi\"\"\" created\r\n"), "/say \"hi\"");
  EXPECT_EQ(ParseDirectoryReply("257 /no/quotes\r\n"), std::nullopt);
  EXPECT_EQ(ParseDirectoryReply("257 \"/unterminated\r\n"), std::nullopt);
  EXPECT_EQ(FtpPathIn("/", "pub/f.txt"), "/pub/f.txt");
  EXPECT_EQ(FtpPathIn("/home/ann", "f.txt"), "/home/ann/f.txt");
  EXPECT_EQ(FtpPathIn("/home/ann", ""), "/home/ann");
  EXPECT_EQ(FtpPathIn("/", ""), "/");
  // The dash asks the server for short replies, and only the default password gets it.
  EXPECT_EQ(FtpPassCommand("anonymous", kAnonymousFtpPassword), kAnonymousPass + "\r\n");
  EXPECT_EQ(FtpPassCommand("ann", "secret"), "PASS secret\r\n");
  EXPECT_EQ(FtpPassCommand("anonymous", "me@home"), "PASS me@home\r\n");
}

class NoDial : public dialup::DialManager {
 public:
  bool CheckConnected() override { return true; }
  void EnsureConnected() override {}
  void ResetIdleTimer() override {}
};
// A browser's ftp:// request as the analysis leaves it, served on a thread of its own;
// the test reads the answer from the browser's end of a socket pair.
class FtpRetrievalTest : public ::testing::Test {
 protected:
  std::string Retrieve(std::uint16_t port, std::string path, MethodCode method = MethodCode::Get) {
    config::GlobalSettings settings;
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
    std::jthread retrieval(
        [this, session = std::move(session)]() mutable { RetrieveFtpItem(context_, session); });
    return test::ReadUntilClosed(browser.Get(), test::kPatience);
  }

  // True when no temporary file is left (the directory need not have been made).
  bool TempDirIsEmpty() const {
    const std::string tempDir = loaded_.dir.File("Temp");
    std::error_code error;
    return !std::filesystem::exists(tempDir, error) || std::filesystem::is_empty(tempDir, error);
  }

  config::LoadedConfiguration loaded_{""};
  platform::ExitEvent exit_;
  NoDial dial_;
  std::mutex logLock_;
  std::atomic<std::uint32_t> requests_{0};
  std::atomic<std::uint32_t> hits_{0};
  std::atomic<std::int32_t> cacheItems_{0};
  std::atomic<double> cacheSize_{0};
  SessionContext context_{loaded_.configuration,
                          exit_,
                          dial_,
                          [](std::string_view) {},
                          logLock_,
                          requests_,
                          hits_,
                          cacheItems_,
                          cacheSize_,
                          {},
                          {},
                          {}};
};

// The passive reply names an address the server is not on: the data connection must go to
// the control connection's address all the same.
TEST_F(FtpRetrievalTest, FetchesAFileInImageTypeOverAPassiveConnection) {
  std::string bytes(70000, '\0');
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i % 253);
  test::FakeFtpServer server("220 Scripted\r\n", {{"/pub/f.bin", bytes}});
  const std::string answer = Retrieve(server.Port(), "pub/f.bin");
  EXPECT_TRUE(answer ==
              "HTTP/1.0 200 OK\r\nContent-Type: application/octet-stream\r\nContent-Length: 70000"
              "\r\nConnection: close\r\n\r\n" +
                  bytes)
      << answer.substr(0, 200);
  ASSERT_TRUE(server.WaitForConversations(1));
  EXPECT_EQ(server.Commands(),
            (std::vector<std::string>{"USER anonymous", kAnonymousPass, "PWD", "SIZE /pub/f.bin",
                                      "TYPE I", "PASV", "RETR /pub/f.bin", "QUIT"}));
  EXPECT_TRUE(std::filesystem::is_directory(loaded_.dir.File("Temp")));
  EXPECT_TRUE(TempDirIsEmpty());
}

TEST_F(FtpRetrievalTest, AHeadRequestGetsTheHeaderAlone) {
  test::FakeFtpServer server("220 Scripted\r\n", {{"/notes.txt", "some notes"}});
  EXPECT_EQ(Retrieve(server.Port(), "notes.txt", MethodCode::Head),
            "HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\nContent-Length: 10\r\n"
            "Connection: close\r\n\r\n");
}

TEST_F(FtpRetrievalTest, AServerThatCannotBeReachedIsA502) {
  int error = 0;
  const std::uint16_t closedPort = platform::LocalPort(platform::OpenTcpListener(0, error).Get());
  const std::string answer = Retrieve(closedPort, "f");
  EXPECT_TRUE(answer.starts_with("HTTP/1.0 502 Bad Gateway\r\n")) << answer;
}

}  // namespace
}  // namespace tenvar::http
