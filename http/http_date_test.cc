#include "http/http_date.h"

#include <gtest/gtest.h>

#include <string>

namespace tenvar::http {
namespace {

constexpr std::time_t kExample = 784111777;  // Sun, 06 Nov 1994 08:49:37 GMT

TEST(FormatHttpDate, WritesRfc1123WithEnglishNames) {
  EXPECT_EQ(FormatHttpDate(kExample), "Sun, 06 Nov 1994 08:49:37 GMT");
  EXPECT_EQ(FormatHttpDate(0), "Thu, 01 Jan 1970 00:00:00 GMT");
  EXPECT_EQ(FormatHttpDate(951782400), "Tue, 29 Feb 2000 00:00:00 GMT");
}

TEST(ParseHttpDate, RoundTripsWhatItFormats) {
  for (std::time_t when : {std::time_t{0}, kExample, std::time_t{951782400},
                           std::time_t{1700000000}, std::time_t{4102444799}}) {
    EXPECT_EQ(ParseHttpDate(FormatHttpDate(when)), when) << when;
  }
}

// The three forms, blanks around and names in any case; two-digit years fall before 2070.
TEST(ParseHttpDate, ReadsTheThreeForms) {
  const std::pair<const char*, std::time_t> cases[] = {
      {"Sun, 06 Nov 1994 08:49:37 GMT", kExample},     {"Sunday, 06-Nov-94 08:49:37 GMT", kExample},
      {"Sun Nov  6 08:49:37 1994", kExample},          {"Sun Nov 06 08:49:37 1994", kExample},
      {"  sun, 06 NOV 1994 08:49:37 gmt\r", kExample}, {"Thursday, 01-Jan-70 00:00:00 GMT", 0},
      {"Tuesday, 29-Feb-00 00:00:00 GMT", 951782400},
  };
  for (const auto& [text, when] : cases) EXPECT_EQ(ParseHttpDate(text), when) << text;
}

TEST(ParseHttpDate, RejectsGarbageAndImpossibleDates) {
  for (const char* text : {
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
       }) {
    EXPECT_EQ(ParseHttpDate(text), std::nullopt) << text;
  }
}

TEST(ParseHttpDate, RejectsValuesOver127Characters) {
  const std::string padded = "Sun, 06 Nov 1994 08:49:37 GMT" + std::string(98, ' ');
  ASSERT_EQ(padded.size(), 127u);
  EXPECT_EQ(ParseHttpDate(padded), kExample);
  EXPECT_EQ(ParseHttpDate(padded + " "), std::nullopt);
}

}  // namespace
}  // namespace tenvar::http
