#include "dialup/dial_progress.h"

#include <gtest/gtest.h>

namespace tenvar::dialup {
namespace {

TEST(DialStatusText, GivesTheStatusWindowTextOfEachStep) {
  EXPECT_EQ(DialStatusText(DialStep::OpenPort), "Opening port");
  EXPECT_EQ(DialStatusText(DialStep::PortOpened), "Port opened");
  EXPECT_EQ(DialStatusText(DialStep::ConnectDevice), "Connecting...");
  EXPECT_EQ(DialStatusText(DialStep::AllDevicesConnected), "Physical connection established");
  EXPECT_EQ(DialStatusText(DialStep::Authenticate), "Authenticating username and password");
  EXPECT_EQ(DialStatusText(DialStep::AuthCallback), "Server requested callback number");
  EXPECT_EQ(DialStatusText(DialStep::SubEntryDisconnected), "Multilink subentry disconnected");
  EXPECT_EQ(DialStatusText(DialStep::Interactive), "Terminal state");
  EXPECT_EQ(DialStatusText(DialStep::PasswordExpired), "Password expired");
  EXPECT_EQ(DialStatusText(DialStep::Connected), "Connected successfully.");
  EXPECT_EQ(DialStatusText(DialStep::Disconnected), "Disconnected");
}

TEST(DialStatusText, LeavesTheTextAsItWasForAuthenticationRetryAndPasswordChange) {
  EXPECT_EQ(DialStatusText(DialStep::AuthRetry), std::nullopt);
  EXPECT_EQ(DialStatusText(DialStep::AuthChangePassword), std::nullopt);
  EXPECT_EQ(DialStatusText(static_cast<DialStep>(0x3000)), std::nullopt);
}

}  // namespace
}  // namespace tenvar::dialup
