#include "service/refusal_log.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tenvar::service {
namespace {

TEST(RefusalLog, WritesAtMostALineAMinutePerSourceWithTheCountItStoodFor) {
  std::vector<std::string> lines;
  RefusalLog log([&](std::string_view line) { lines.emplace_back(line); });
  const RefusalLog::Clock::time_point start;
  const in_addr outsider{htonl(0x01020304)};
  const in_addr other{htonl(0x05060708)};
  for (int second = 0; second < 60; ++second) {
    log.Refused(outsider, start + std::chrono::seconds(second));
  }
  log.Refused(other, start + std::chrono::seconds(30));
  log.Refused(outsider, start + std::chrono::seconds(60));
  log.Refused(outsider, start + std::chrono::seconds(125));
  EXPECT_EQ(lines, (std::vector<std::string>{
                       "Refused connection from 1.2.3.4", "Refused connection from 5.6.7.8",
                       "Refused connection from 1.2.3.4 (59 more since the last line)",
                       "Refused connection from 1.2.3.4"}));
}

}  // namespace
}  // namespace tenvar::service
