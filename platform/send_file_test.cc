#include "platform/send_file.h"

#include <fcntl.h>
#include <gtest/gtest.h>

#include <future>
#include <string>

#include "platform/socket_pair_test_support.h"
#include "platform/temp_dir.h"
#include "tests/support/loopback.h"

namespace tenvar::platform {
namespace {

using namespace std::chrono_literals;

class SendFile : public ::testing::Test {
 protected:
  void SetUp() override {
    file_.Reset(::open(dir_.Write("item", content_).c_str(), O_RDONLY | O_CLOEXEC));
    ASSERT_TRUE(file_.Valid());
  }
  TempDir dir_;
  const std::string content_ = test::RandomBytes(3 << 20, 4);
  UniqueFd file_;
  ExitEvent exit_;
};

TEST_F(SendFile, DeliversTheAskedPartInOrderOrSaysTheFileEndedFirst) {
  const struct {
    const char* name;
    std::size_t offset;
    std::size_t length;
    FileSendResult result;
    std::size_t delivered;
  } cases[] = {
      {"inside the file", 1000, content_.size() - 2000, FileSendResult::Sent,
       content_.size() - 2000},
      {"beyond its end", content_.size() - 10, 20, FileSendResult::FileEnded, 10},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SocketPair pair = SmallWindowPair();
    std::future<std::string> received = std::async(
        std::launch::async, [&] { return test::ReadUntilClosed(pair.Receiver.Get(), 10s); });
    EXPECT_EQ(SendFileWithin(pair.Sender.Get(), file_.Get(), c.offset, c.length, exit_, 10s),
              c.result);
    pair.Sender.Reset();
    EXPECT_TRUE(received.get() == content_.substr(c.offset, c.delivered));
  }
}

TEST_F(SendFile, GivesUpOnAReaderThatStopsReadingAndStopsAtTheExitEvent) {
  SocketPair stalled = SmallWindowPair();
  EXPECT_EQ(SendFileWithin(stalled.Sender.Get(), file_.Get(), 0, content_.size(), exit_, 50ms),
            FileSendResult::Stalled);
  SocketPair pair = SmallWindowPair();
  exit_.Signal();
  EXPECT_EQ(SendFileWithin(pair.Sender.Get(), file_.Get(), 0, 10, exit_, 10s),
            FileSendResult::Exit);
}

}  // namespace
}  // namespace tenvar::platform
