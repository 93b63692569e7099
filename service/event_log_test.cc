#include "service/event_log.h"

#include <gtest/gtest.h>

#include <regex>
#include <thread>

#include "platform/temp_dir.h"
#include "platform/text.h"

namespace tenvar::service {
namespace {

// A message is no format: a percent sign or an empty text is written as it is.
TEST(EventLog, WritesTheTimePrefixAndTheMessageLiterally) {
  platform::TempDir dir;
  const std::string path = dir.File("Tenvar.log");
  EventLog log([&] { return path; });
  log.LogEvent("100% %s %d");
  log.LogEvent("");
  const std::vector<std::string> lines = platform::SplitLines(platform::ReadFileText(path));
  ASSERT_EQ(lines.size(), 2u);
  const std::regex stamped(R"(\d\d/\d\d/\d{4} @ \d\d:\d\d:\d\d - (.*))");
  std::smatch match;
  ASSERT_TRUE(std::regex_match(lines[0], match, stamped));
  EXPECT_EQ(match[1], "100% %s %d");
  ASSERT_TRUE(std::regex_match(lines[1], match, stamped));
  EXPECT_EQ(match[1], "");
}

TEST(EventLog, ConcurrentLinesArriveWholeAndNoneIsLost) {
  platform::TempDir dir;
  const std::string path = dir.File("Tenvar.log");
  EventLog log([&] { return path; });
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
  ASSERT_EQ(lines.size(), static_cast<size_t>(kThreads * kLines));
  for (const std::string& line : lines) {
    const std::string body = line.substr(line.find(" - ") + 3);
    ASSERT_EQ(body.size(), 100u) << line;
    EXPECT_EQ(body.find_first_not_of(body[0]), std::string::npos) << line;
  }
}

}  // namespace
}  // namespace tenvar::service
