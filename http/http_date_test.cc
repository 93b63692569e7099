#include "http/http_date.h"

#include <gtest/gtest.h>

#include <string>

namespace tenvar::http {
namespace {

constexpr std::time_t kExample = 784111777;  // Sun, 06 Nov 1994 08:49:37 GMT
// The longest value read: the example padded to 127 characters.
const std::string kPadded127 = "Sun, 06 Nov 1994 08:49:37 GMT" + std::string(98, ' ');

TEST(FormatHttpDate, WritesRfc1123WithEnglishNamesAndReadsItBack) {
  const std::pair<std::time_t, const char*> cases[] = {
      {kExample, "Sun, 06 Nov 1994 08:49:37 GMT"},
      {0, "Thu, 01 Jan 1970 00:00:00 GMT"},
      {951782400, "Tue, 29 Feb 2000 00:00:00 GMT"},
      {4102444799, "Thu, 31 Dec 2099 23:59:59 GMT"},
  };
  for (const auto& [when, text] : cases) {
    EXPECT_EQ(FormatHttpDate(when), text);
    EXPECT_EQ(ParseHttpDate(text), when) << text;
  }
}

// The three forms, blanks around and names in any case; two-digit years fall before 2070.
TEST(ParseHttpDate, ReadsTheThreeForms) {
  const std::pair<const char*, std::time_t> cases[] = {
      {"Sun, 06 Nov 1994 08:49:37 GMT", kExample},     {"Sunday, 06-Nov-94 08:49:37 GMT", kExample},
      {"Sun Nov  6 08:49:37 1994", kExample},          {"Sun Nov 06 08:49:37 1994", kExample},
      {"  sun, 06 NOV 1994 08:49:37 gmt\r", kExample}, {"Thursday, 01-Jan-70 00:00:00 GMT", 0},
      {"Tuesday, 29-Feb-00 00:00:00 GMT", 951782400},  {kPadded127.c_str(), kExample},
  };
  for (const auto& [text, when] : cases) EXPECT_EQ(ParseHttpDate(text), when) << text;
}

TEST(ParseHttpDate, RejectsGarbageImpossibleDatesAndOverlongValues) {
  const std::string rejected[] = {
      "",
      "yesterday",
      "Sun, 06 Nov 1994",
      "Sun, 06 Nov 1994 08:49:37",
      "Sun, 06 Nov 1994 08:49:37 GMT trailing",
      "Sun, 06 Foo 1994 08:49:37 GMT",
      "Xyz, 06 Nov 1994 08:49:37 GMT",
      "Sun, 31 Feb 1994 08:49:37 GMT",
      "Sun, 06 Nov 1994 24:00:00 GMT",
      "Sun, 06 Nov 1994 08:61:00 GMT",
      "Sun, 00 Nov 1994 08:49:37 GMT",
      "Sun, 06 Nov 94 08:49:37 GMT",
      "Sun, 06 Nov 19945 08:49:37 GMT",
      "Sun Nov  6 08:49:37 94",
      "Sunday, 06-Nov-994 08:49:37 GMT",
      "1994-11-06T08:49:37Z",
      kPadded127 + " ",
  };
  for (const std::string& text : rejected) EXPECT_EQ(ParseHttpDate(text), std::nullopt) << text;
}

}  // namespace
}  // namespace tenvar::http
