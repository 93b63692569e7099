// A scripted FTP server on a loopback port for the unit tests of both FTP paths (the FTP
// proxy and ftp:// retrieval). It serves one control connection at a time, records every
// command, and answers PASV with an address it does not listen on, as a server behind NAT
// does: only the port of its reply may be used. Its own thread serves; the accessors may
// be called from any thread.
#pragma once

#include <arpa/inet.h>

#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/exit_event.h"
#include "platform/socket.h"
#include "platform/unique_fd.h"
#include "tests/support/loopback.h"

namespace tenvar::test {

class FakeFtpServer {
 public:
  // `files` maps the argument of RETR (or SIZE) to its content.
  explicit FakeFtpServer(std::string greeting = "220 Ready\r\n",
                         std::map<std::string, std::string> files = {})
      : greeting_(std::move(greeting)), files_(std::move(files)) {
    int error = 0;
    listener_ = platform::OpenTcpListener(0, error);
    port_ = platform::LocalPort(listener_.Get());
    thread_ = std::jthread([this] { Serve(); });
  }
  ~FakeFtpServer() {
    stop_.Signal();
    thread_.join();
  }

  std::uint16_t Port() const { return port_; }
  std::vector<std::string> Commands() const {
    std::lock_guard lock(lock_);
    return commands_;
  }
  // Waits until `count` control connections have ended; false after the patience.
  bool WaitForConversations(int count) {
    std::unique_lock lock(lock_);
    return ended_.wait_for(lock, kPatience, [&] { return conversations_ >= count; });
  }

 private:
  void Serve() {
    while (WaitReadable(listener_.Get(), std::chrono::minutes(1), stop_.Fd())) {
      std::optional<platform::AcceptedConnection> accepted =
          platform::AcceptConnection(listener_.Get());
      if (!accepted) continue;
      Peer control(std::move(accepted->Fd), stop_.Fd());
      control.Send(greeting_);
      Converse(control);
      std::lock_guard lock(lock_);
      ++conversations_;
      ended_.notify_all();
    }
  }

  void Converse(Peer& control) {
    std::pair<in_addr, std::uint16_t> active{};  // port 0: no PORT in force
    platform::UniqueFd passive;
    for (std::string line = control.Line(); !line.empty(); line = control.Line()) {
      line.resize(line.size() - 2);
      {
        std::lock_guard lock(lock_);
        commands_.push_back(line);
      }
      const std::string word = line.substr(0, line.find(' '));
      const std::string argument = line.size() > word.size() ? line.substr(word.size() + 1) : "";
      const auto file = files_.find(argument);
      const bool found = file != files_.end();
      if (word == "USER") {
        control.Send("331 Password please\r\n");
      } else if (word == "PASS") {
        control.Send("230 Welcome\r\n");
      } else if (word == "PWD") {
        control.Send("257 \"/\" is the current directory\r\n");
      } else if (word == "SIZE") {
        control.Send(found ? "213 " + std::to_string(file->second.size()) + "\r\n"
                           : "550 Could not get file size.\r\n");
      } else if (word == "TYPE") {
        control.Send("200 Type set\r\n");
      } else if (word == "PORT") {
        unsigned part[6] = {};  // "h1,h2,h3,h4,p1,p2"
        active = {};
        if (std::sscanf(argument.c_str(), "%u,%u,%u,%u,%u,%u", &part[0], &part[1], &part[2],
                        &part[3], &part[4], &part[5]) == 6) {
          active = {in_addr{htonl(part[0] << 24 | part[1] << 16 | part[2] << 8 | part[3])},
                    static_cast<std::uint16_t>(part[4] << 8 | part[5])};
        }
        passive.Reset();
        control.Send("200 PORT ok\r\n");
      } else if (word == "PASV") {
        passive = ListenOnLoopback(0, 1);
        active = {};
        const std::uint16_t port = platform::LocalPort(passive.Get());
        control.Send("227 Entering Passive Mode (127,0,0,3," + std::to_string(port / 256) + "," +
                     std::to_string(port % 256) + ")\r\n");
      } else if (word == "RETR" && !found) {
        control.Send("550 Failed to open file.\r\n");
      } else if (word == "RETR" && (active.second != 0 || passive.Valid())) {
        control.Send("150 Here it comes\r\n");
        OpenData(active, passive).Send(file->second);
        // Multi-line, and worded unlike any proxy's own completion.
        control.Send("226-Server's own\r\n226 completion\r\n");
      } else if (word == "FEAT") {
        control.Send("211-Features:\r\n SIZE\r\n211 End\r\n");
      } else if (word == "QUIT") {
        control.Send("221 Bye\r\n");
        return;
      } else {
        control.Send("500 Unknown\r\n");
      }
    }
  }

  Peer OpenData(const std::pair<in_addr, std::uint16_t>& active,
                const platform::UniqueFd& passive) {
    if (active.second == 0) {
      platform::UniqueFd accepted = AcceptWithin(passive.Get(), kPatience, stop_.Fd());
      // Non-blocking, so that a send to a reader that stopped still ends at the stop event.
      platform::SetNonBlocking(accepted.Get());
      return Peer(std::move(accepted), stop_.Fd());
    }
    int error = 0;
    platform::UniqueFd socket = platform::StartConnect(active.first, active.second, error);
    if (socket.Valid() && !platform::ConnectWithin(socket.Get(), kPatience, stop_.Fd(), error)) {
      socket.Reset();
    }
    return Peer(std::move(socket), stop_.Fd());
  }

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
