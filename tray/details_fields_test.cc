#include "tray/details_fields.h"

#include <gtest/gtest.h>

namespace tenvar::tray {
namespace {

TEST(CountdownText, HoursWithinADayMinutesSecondsTwoDigitsEach) {
  const std::pair<std::uint32_t, const char*> cases[] = {
      {0, "00:00:00"},     {59, "00:00:59"},    {300, "00:05:00"},
      {3599, "00:59:59"},  {3600, "01:00:00"},  {36000 + 754, "10:12:34"},
      {86399, "23:59:59"}, {86400, "00:00:00"}, {90061, "01:01:01"},
  };
  for (const auto& [seconds, text] : cases) EXPECT_EQ(CountdownText(seconds), text) << seconds;
}

}  // namespace
}  // namespace tenvar::tray
