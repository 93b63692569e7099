#include "tray/details_fields.h"

#include <gtest/gtest.h>

#include "dialup/tray_view.h"

namespace tenvar::tray {
namespace {

using dialup::ConnectionState;

TEST(CountdownText, HoursWithinADayMinutesSecondsTwoDigitsEach) {
  const std::pair<std::uint32_t, const char*> cases[] = {
      {0, "00:00:00"},     {59, "00:00:59"},    {300, "00:05:00"},
      {3599, "00:59:59"},  {3600, "01:00:00"},  {36000 + 754, "10:12:34"},
      {86399, "23:59:59"}, {86400, "00:00:00"}, {90061, "01:01:01"},
  };
  for (const auto& [seconds, text] : cases) EXPECT_EQ(CountdownText(seconds), text) << seconds;
}

// Dialling and dial on demand off, with the line in progress, are shown in the window test.
TEST(DetailsFor, DialUpPartByDialAndState) {
  struct Case {
    bool Dial;
    ConnectionState State;
    const char* Entry;
    int Icon;
    const char* Text;
  };
  const Case cases[] = {
      {false, ConnectionState::NotConnected, "Not applicable", dialup::kIconConnected,
       "Permanently connected"},
      {true, ConnectionState::NotConnected, "provider", dialup::kIconNotConnected,
       "Not connected."},
      {true, ConnectionState::Connected, "provider", dialup::kIconConnected, "Connected."},
  };
  for (const Case& c : cases) {
    DetailsInput input;
    input.Dial = c.Dial;
    input.State = c.State;
    input.PhonebookEntry = "provider";
    const DetailsFields fields = DetailsFor(input);
    EXPECT_EQ(fields.PhonebookEntry, c.Entry);
    EXPECT_EQ(fields.StatusIcon, c.Icon);
    EXPECT_EQ(fields.StatusText, c.Text);
  }
}

}  // namespace
}  // namespace tenvar::tray
