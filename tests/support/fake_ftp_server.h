// A scripted FTP server on a loopback port for the unit tests of both FTP paths (the FTP
// proxy and ftp:// retrieval). It serves one control connection at a time, records every
// command, and answers PASV with an address it does not listen on, as a server behind NAT
// does: only the port of its reply may be used. Its own thread serves; the accessors may
// be called from any thread.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/exit_event.h"
#include "platform/unique_fd.h"
#include "tests/support/loopback.h"

namespace tenvar::test {

class FakeFtpServer {
 public:
  // `files` maps the argument of RETR (or SIZE) to its content.
  explicit FakeFtpServer(std::string greeting = "220 Ready\r\n",
                         std::map<std::string, std::string> files = {});
  ~FakeFtpServer();

  std::uint16_t Port() const { return port_; }
  std::vector<std::string> Commands() const;
  // Waits until `count` control connections have ended; false after the patience.
  bool WaitForConversations(int count);

 private:
  void Serve();
  void Converse(Peer& control);
  Peer OpenData(const std::optional<std::pair<in_addr, std::uint16_t>>& active,
                const platform::UniqueFd& passive);

  std::string greeting_;
  std::map<std::string, std::string> files_;
  platform::UniqueFd listener_;
  std::uint16_t port_ = 0;
  platform::ExitEvent stop_;
  mutable std::mutex lock_;  // guards the two below
  std::condition_variable ended_;
  std::vector<std::string> commands_;
  int conversations_ = 0;
  std::jthread thread_;
};

}  // namespace tenvar::test
