#include "platform/send_file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>

#include <future>
#include <string>

#include "platform/temp_dir.h"
#include "platform/unique_fd.h"

namespace tenvar::platform {
namespace {

using namespace std::chrono_literals;

struct SocketPair {
  UniqueFd Sender;
  UniqueFd Receiver;
};

// A small window, so that a file of a few MiB has to wait for the reader many times.
SocketPair SmallWindowPair() {
  int fds[2] = {-1, -1};
  EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, fds), 0);
  const int size = 4096;
  ::setsockopt(fds[0], SOL_SOCKET, SO_SNDBUF, &size, sizeof size);
  ::setsockopt(fds[1], SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
  return {UniqueFd(fds[0]), UniqueFd(fds[1])};
}

// Reads until the peer closes or is silent for 10 s.
std::string ReadToEnd(int fd) {
  std::string received;
  char block[16384];
  for (;;) {
    pollfd entry{fd, POLLIN, 0};
    if (::poll(&entry, 1, 10000) != 1) return received;
    const ssize_t got = ::recv(fd, block, sizeof block, 0);
    if (got <= 0) return received;
    received.append(block, static_cast<std::size_t>(got));
  }
}

class SendFile : public ::testing::Test {
 protected:
  void SetUp() override {
    content_.resize(3 << 20);
    for (std::size_t at = 0; at < content_.size(); ++at)
      content_[at] = static_cast<char>(at * 13 / 7);
    file_.Reset(::open(dir_.Write("item", content_).c_str(), O_RDONLY | O_CLOEXEC));
    ASSERT_TRUE(file_.Valid());
  }
  TempDir dir_;
  std::string content_;
  UniqueFd file_;
  ExitEvent exit_;
};

TEST_F(SendFile, DeliversTheAskedPartOfTheFileInOrder) {
  SocketPair pair = SmallWindowPair();
  std::future<std::string> received =
      std::async(std::launch::async, [&] { return ReadToEnd(pair.Receiver.Get()); });
  EXPECT_EQ(
      SendFileWithin(pair.Sender.Get(), file_.Get(), 1000, content_.size() - 2000, exit_, 10s),
      FileSendResult::Sent);
  pair.Sender.Reset();
  EXPECT_TRUE(received.get() == content_.substr(1000, content_.size() - 2000));
}

TEST_F(SendFile, GivesUpOnAReaderThatStopsReading) {
  SocketPair pair = SmallWindowPair();
  EXPECT_EQ(SendFileWithin(pair.Sender.Get(), file_.Get(), 0, content_.size(), exit_, 50ms),
            FileSendResult::Stalled);
}

TEST_F(SendFile, SaysSoWhenTheFileIsShorterThanAskedFor) {
  SocketPair pair = SmallWindowPair();
  std::future<std::string> received =
      std::async(std::launch::async, [&] { return ReadToEnd(pair.Receiver.Get()); });
  EXPECT_EQ(SendFileWithin(pair.Sender.Get(), file_.Get(), content_.size() - 10, 20, exit_, 10s),
            FileSendResult::FileEnded);
  pair.Sender.Reset();
  EXPECT_EQ(received.get(), content_.substr(content_.size() - 10));
}

TEST_F(SendFile, StopsAtTheExitEvent) {
  SocketPair pair = SmallWindowPair();
  exit_.Signal();
  EXPECT_EQ(SendFileWithin(pair.Sender.Get(), file_.Get(), 0, 10, exit_, 10s),
            FileSendResult::Exit);
}

}  // namespace
}  // namespace tenvar::platform
