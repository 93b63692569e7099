#include "dialup/ppp_progress.h"

#include <gtest/gtest.h>

namespace tenvar::dialup {
namespace {

// The lines the pppd stand-in prints are read in PppDialManagerTest; these are the others a
// real dial prints, including failures that also contain a success's or a prefix's words.
TEST(PppProgress, ReadsEachLineAsItsStepOrAsNoProgress) {
  const struct {
    const char* line;
    std::optional<DialStep> step;
  } cases[] = {
      {"send (ATZ^M)", DialStep::WaitForModemReset},
      {"sent [PAP AuthReq id=0x1 user=\"alice\" password=<hidden>]", DialStep::Authenticate},
      {"Remote message: Login ok", DialStep::AuthAck},
      {"CHAP authentication succeeded: Access granted", DialStep::AuthNotify},
      {"Deflate (15) compression enabled", DialStep::Projected},
      {"Device /dev/ttyS0 is locked by pid 4711", DialStep::OpenPort},
      {"CHAP authentication failed", DialStep::RetryAuthentication},
      {"MS-CHAP authentication failed: E=648 Password expired", DialStep::PasswordExpired},
      {"rcvd [CBCP Request id=0x1 < NoCallback>]", DialStep::AuthCallback},
      {"sent [LCP TermReq id=0x2 \"Call me back, please\"]", DialStep::PrepareForCallback},
      {"expect (ogin:)", DialStep::Interactive},
      {"Peer isp authenticated with CHAP", DialStep::Authenticated},
      {"Link attached to ppp0", DialStep::SubEntryConnected},
      {"Link terminated.", DialStep::SubEntryDisconnected},
      {"remote IP address 10.64.64.65", std::nullopt},
      {"Using interface ppp0", std::nullopt},
      {"Connection terminated.", std::nullopt},
      {"", std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(PppProgressStep(c.line), c.step) << c.line;
}

// Only the local address line with two spaces, as the stand-in prints it, means connected.
TEST(PppProgress, ReadsTheConnectedLineAndTheInterfaceName) {
  EXPECT_FALSE(IsPppConnectedLine("local IP address 192.0.2.7"));
  EXPECT_FALSE(IsPppConnectedLine("remote IP address 192.0.2.1"));
  EXPECT_EQ(PppInterfaceName("Using interface ppp3\r"), "ppp3");
  EXPECT_EQ(PppInterfaceName("Using interface "), std::nullopt);
  EXPECT_EQ(PppInterfaceName("Connect: ppp0 <--> /dev/ttyS0"), std::nullopt);
}

}  // namespace
}  // namespace tenvar::dialup
