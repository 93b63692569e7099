#include "http/request_log.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace tenvar::http {
namespace {

constexpr std::time_t kExample = 784111777;  // Sun, 06 Nov 1994 08:49:37 GMT

TEST(RequestLogLine, QuotesEveryColumnAndWritesTheLocalDateAndTime) {
  const char* processZone = std::getenv("TZ");
  const std::optional<std::string> previousZone =
      processZone ? std::optional<std::string>(processZone) : std::nullopt;
  const LanClientNames desk{"DESK-3", "192.168.0.3", "alice"};
  const LanClientNames quoted{"PC \"2\"", "192.168.0.2", "bob"};
  struct Case {
    const char* Zone;
    std::time_t When;
    const char* Keyword;
    std::optional<LanClientNames> Client;
    const char* Address;
    const char* Url;
    const char* Line;
  };
  const Case cases[] = {
      // A registered client is named with the address it registered from.
      {"UTC", kExample, "", desk, "10.0.0.1", "http://h/",
       "\"\",\"06/11/1994\",\"08:49:37\",\"DESK-3\",\"192.168.0.3\",\"alice\",\"http://h/\"\n"},
      {"UTC", kExample, "", quoted, "", "http://h/?q=\"x\"",
       "\"\",\"06/11/1994\",\"08:49:37\",\"PC \"\"2\"\"\",\"192.168.0.2\",\"bob\","
       "\"http://h/?q=\"\"x\"\"\"\n"},
      // Ten hours east of UTC, which moves the second example into the next day.
      {"XST-10", kExample, "", std::nullopt, "a", "u",
       "\"\",\"06/11/1994\",\"18:49:37\",\"Unknown\",\"a\",\"Unknown\",\"u\"\n"},
      {"XST-10", kExample + 6 * 3600, "", std::nullopt, "a", "u",
       "\"\",\"07/11/1994\",\"00:49:37\",\"Unknown\",\"a\",\"Unknown\",\"u\"\n"},
  };
  for (const Case& entry : cases) {
    ::setenv("TZ", entry.Zone, 1);
    ::tzset();
    EXPECT_EQ(RequestLogLine(entry.When, entry.Keyword, entry.Client, entry.Address, entry.Url),
              entry.Line);
  }
  // The process's own zone goes back.
  if (previousZone) {
    ::setenv("TZ", previousZone->c_str(), 1);
  } else {
    ::unsetenv("TZ");
  }
  ::tzset();
}

}  // namespace
}  // namespace tenvar::http
