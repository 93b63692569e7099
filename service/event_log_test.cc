#include "service/event_log.h"

#include <gtest/gtest.h>

#include <span>
#include <thread>

#include "platform/temp_dir.h"
#include "platform/text.h"

namespace tenvar::service {
namespace {

// A message is no format: a percent sign or an empty text is written as it is. Lines from
// many threads arrive whole and none is lost. The time before each is read in the
// whole-program tests.
TEST(EventLog, WritesMessagesLiterallyAndConcurrentLinesWhole) {
  platform::TempDir dir;
  const std::string path = dir.File("Tenvar.log");
  EventLog log([&] { return path; });
  log.LogEvent("100% %s %d");
  log.LogEvent("");
  constexpr int kThreads = 4;
  constexpr int kLines = 200;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      const std::string body(100, static_cast<char>('a' + t));
      for (int i = 0; i < kLines; ++i) log.LogEvent(body);
    });
  }
  for (std::thread& thread : threads) thread.join();
  const std::vector<std::string> lines = platform::SplitLines(platform::ReadFileText(path));
  ASSERT_EQ(lines.size(), static_cast<size_t>(2 + kThreads * kLines));
  EXPECT_TRUE(lines[0].ends_with(" - 100% %s %d")) << lines[0];
  EXPECT_TRUE(lines[1].ends_with(" - ")) << lines[1];
  for (const std::string& line : std::span(lines).subspan(2)) {
    const std::string body = line.substr(line.find(" - ") + 3);
    ASSERT_EQ(body.size(), 100u) << line;
    EXPECT_EQ(body.find_first_not_of(body[0]), std::string::npos) << line;
  }
}

}  // namespace
}  // namespace tenvar::service
