#include "service/headless_messages.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/text.h"
#include "platform/temp_dir.h"

namespace tenvar::service {
namespace {

class RecordingScreen : public config::MessageSink {
 public:
  void ShowMessage(std::string_view text, std::string_view caption) override {
    Shown.push_back(std::string(caption) + "|" + std::string(text));
  }
  std::vector<std::string> Shown;
};

TEST(HeadlessMessages, AScreenShowsTheMessageAndTheLogStillGetsItsLine) {
  platform::TempDir dir;
  const std::string path = dir.File("Tenvar.log");
  EventLog log([&] { return path; });
  std::vector<std::string> observed;
  log.SetLineObserver([&](std::string_view line) { observed.emplace_back(line); });
  HeadlessMessages messages(log);
  RecordingScreen screen;
  messages.SetScreen(&screen);
  messages.ShowMessage("Unknown option Foo", "Configuration");
  EXPECT_EQ(screen.Shown, (std::vector<std::string>{"Configuration|Unknown option Foo"}));
  const std::vector<std::string> lines = platform::SplitLines(platform::ReadFileText(path));
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_TRUE(lines[0].ends_with(" - Configuration: Unknown option Foo")) << lines[0];
  // The log window sees the very line the file got, line end included.
  ASSERT_EQ(observed.size(), 1u);
  EXPECT_EQ(observed[0], lines[0] + "\n");
}

}  // namespace
}  // namespace tenvar::service
