#include "dialup/ppp_progress.h"

#include <gtest/gtest.h>

namespace tenvar::dialup {
namespace {

TEST(PppProgress, ReadsAModemDialAsItsSteps) {
  EXPECT_EQ(PppProgressStep("abort on (NO CARRIER)"), DialStep::PortOpened);
  EXPECT_EQ(PppProgressStep("send (ATZ^M)"), DialStep::WaitForModemReset);
  EXPECT_EQ(PppProgressStep("send (ATDT5550123^M)"), DialStep::ConnectDevice);
  EXPECT_EQ(PppProgressStep("CONNECT 115200"), DialStep::DeviceConnected);
  EXPECT_EQ(PppProgressStep("Serial connection established."), DialStep::AllDevicesConnected);
  EXPECT_EQ(PppProgressStep("Connect: ppp0 <--> /dev/ttyS0"), DialStep::AuthLinkSpeed);
  EXPECT_EQ(PppProgressStep("sent [PAP AuthReq id=0x1 user=\"alice\" password=<hidden>]"),
            DialStep::Authenticate);
  EXPECT_EQ(PppProgressStep("Remote message: Login ok"), DialStep::AuthAck);
  EXPECT_EQ(PppProgressStep("PAP authentication succeeded"), DialStep::AuthNotify);
  EXPECT_EQ(PppProgressStep("CHAP authentication succeeded: Access granted"),
            DialStep::AuthNotify);
  EXPECT_EQ(PppProgressStep("Deflate (15) compression enabled"), DialStep::Projected);
  EXPECT_EQ(PppProgressStep("local  IP address 10.64.64.64"), DialStep::Connected);
}

TEST(PppProgress, ReadsFailuresCallbackAndMultilinkLines) {
  EXPECT_EQ(PppProgressStep("Device /dev/ttyS0 is locked by pid 4711"), DialStep::OpenPort);
  EXPECT_EQ(PppProgressStep("CHAP authentication failed"), DialStep::RetryAuthentication);
  EXPECT_EQ(PppProgressStep("MS-CHAP authentication failed: E=648 Password expired"),
            DialStep::PasswordExpired);
  EXPECT_EQ(PppProgressStep("rcvd [CBCP Request id=0x1 < NoCallback>]"), DialStep::AuthCallback);
  EXPECT_EQ(PppProgressStep("sent [LCP TermReq id=0x2 \"Call me back, please\"]"),
            DialStep::PrepareForCallback);
  EXPECT_EQ(PppProgressStep("expect (ogin:)"), DialStep::Interactive);
  EXPECT_EQ(PppProgressStep("Peer isp authenticated with CHAP"), DialStep::Authenticated);
  EXPECT_EQ(PppProgressStep("Link attached to ppp0"), DialStep::SubEntryConnected);
  EXPECT_EQ(PppProgressStep("Link terminated."), DialStep::SubEntryDisconnected);
}

TEST(PppProgress, OtherLinesAreNoProgress) {
  EXPECT_EQ(PppProgressStep("remote IP address 10.64.64.65"), std::nullopt);
  EXPECT_EQ(PppProgressStep("Using interface ppp0"), std::nullopt);
  EXPECT_EQ(PppProgressStep("Connection terminated."), std::nullopt);
  EXPECT_EQ(PppProgressStep(""), std::nullopt);
}

TEST(PppProgress, OnlyTheLocalAddressLineWithTwoSpacesMeansConnected) {
  EXPECT_TRUE(IsPppConnectedLine("local  IP address 192.0.2.7"));
  EXPECT_FALSE(IsPppConnectedLine("local IP address 192.0.2.7"));
  EXPECT_FALSE(IsPppConnectedLine("remote IP address 192.0.2.1"));
}

TEST(PppProgress, TakesTheInterfaceNameFromItsLine) {
  EXPECT_EQ(PppInterfaceName("Using interface ppp3"), "ppp3");
  EXPECT_EQ(PppInterfaceName("Using interface ppp3\r"), "ppp3");
  EXPECT_EQ(PppInterfaceName("Using interface "), std::nullopt);
  EXPECT_EQ(PppInterfaceName("Connect: ppp0 <--> /dev/ttyS0"), std::nullopt);
}

}  // namespace
}  // namespace tenvar::dialup
