// Dial on demand through the real program, with the pppd stand-in as the dialler: the first
// request while the line is down starts one dial and is asked to try again; once the line is
// up, requests pass.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/stat.h>

#include "tests/e2e/office_fixture.h"
#include "tests/support/loopback.h"

namespace tenvar::e2e {
namespace {

constexpr std::string_view kTryAgain = "Connecting to the Internet, please try again shortly";

using namespace std::string_literals;
using DialOnDemand = OfficeTest;

TEST_F(DialOnDemand, TheFirstRequestDialsOnceAndLaterRequestsPassOnceTheLineIsUp) {
  const std::string pppdLog = dir_.File("pppd.log");
  const std::string hold = dir_.File("pppd.hold");
  dir_.Write("peers/provider", "noauth\n");
  ASSERT_EQ(::mkfifo(hold.c_str(), 0600), 0);
  ASSERT_NO_FATAL_FAILURE(
      StartTenvar({.MoreLines = "Dial Yes\nTimeout 5\nFTPPort 2121\n"},
                  {"TENVAR_PPPD=" TENVAR_FAKE_PPPD, "TENVAR_PPP_PEERS=" + dir_.File("peers"),
                   "FAKE_PPPD_LOG=" + pppdLog, "FAKE_PPPD_HOLD=" + hold}));
  // The dials the stand-in has seen start.
  const auto dialCount = [&] {
    return Occurrences("\n" + platform::ReadFileText(pppdLog), "\ncall provider");
  };

  const CurlResult first = Fetch({OriginServer::Url("/small.txt")});
  EXPECT_EQ(first.Status, 503);
  EXPECT_EQ(first.Body, kTryAgain);
  EXPECT_TRUE(tenvar_->WaitForConsole("Connecting to Internet, using provider"));

  // While the dial is under way, more requests are told the same and start no second dial:
  // ftp:// items, which the proxy fetches itself, and clients of the FTP proxy too.
  for (const std::string& url : {OriginServer::Url("/small.txt"), "ftp://127.0.0.1/pub/"s}) {
    const CurlResult again = Fetch({url});
    EXPECT_EQ(again.Status, 503) << url;
    EXPECT_EQ(again.Body, kTryAgain) << url;
  }
  EXPECT_TRUE(tenvar_->WaitForConsole("FTP service started on port 2121"));
  EXPECT_EQ(test::Exchange(2121, ""),
            "430 Not connected to Internet, connecting now - try again in a short while\r\n");
  EXPECT_EQ(dialCount(), 1u);

  // Let the stand-in report its addresses: the line is up.
  dir_.Write("pppd.hold", "go\n");
  // The program learns of it from the dialler's output; give that a bounded moment.
  CurlResult passed;
  for (int attempt = 0; attempt < 100; ++attempt) {
    passed = Fetch({OriginServer::Url("/small.txt")});
    if (passed.Status == 200) break;
    ::poll(nullptr, 0, 50);
  }
  EXPECT_EQ(passed.Status, 200);
  EXPECT_EQ(passed.Body, origin_->Content("small.txt"));
  EXPECT_EQ(dialCount(), 1u);

  // Shutting down leaves the line as it is, but the program's own dialler goes with it.
  tenvar_->Stop();
}

}  // namespace
}  // namespace tenvar::e2e
