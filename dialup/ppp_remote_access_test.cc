#include "dialup/ppp_remote_access.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>

#include "dialup/dial_test_support.h"
#include "dialup/phonebook.h"
#include "platform/temp_dir.h"

namespace tenvar::dialup {
namespace {

class PppRemoteAccessTest : public ::testing::Test {
 protected:
  PppOptions Options(std::vector<std::string> environment = {}) const {
    PppOptions options;
    options.Program = kFakePppd;
    options.NetClassDirectory = net.Path();
    options.Environment = std::move(environment);
    options.Environment.push_back("FAKE_PPPD_LOG=" + PppdLog());
    options.HangUpGrace = std::chrono::seconds(5);
    return options;
  }
  DialProgressCallback Record() {
    return [this](const DialProgress& progress) {
      recorder.Log(progress.Step == DialStep::Disconnected
                       ? "ended " + std::to_string(progress.Error)
                       : std::string(DialStatusText(progress.Step).value_or("?")));
    };
  }
  std::string PppdLog() const { return dir.File("pppd.log"); }
  void AddUpLink(const std::string& name) const { net.Write(name + "/flags", "0x10d1\n"); }

  platform::TempDir dir;
  platform::TempDir net;
  Recorder recorder;
};

// A second dial is refused while one is under way or up, and the dial's own interface is no
// connection until the dial completes.
TEST_F(PppRemoteAccessTest, ASecondDialIsRefusedAndADialInProgressIsNoConnection) {
  Release hold(dir.File("hold"));
  AddUpLink("ppp7");
  PppRemoteAccess remote(Options({"FAKE_PPPD_HOLD=" + hold.Path(), "FAKE_PPPD_INTERFACE=ppp7"}));
  ASSERT_EQ(remote.Dial({"provider", "", ""}, Record()), 0);
  EXPECT_EQ(remote.Dial({"provider", "", ""}, Record()), EBUSY);
  ASSERT_TRUE(recorder.WaitFor("log Authentication successful"));
  EXPECT_FALSE(remote.HasConnection());
  AddUpLink("ppp3");  // dialled by another program
  EXPECT_TRUE(remote.HasConnection());
  hold.Signal();
  ASSERT_TRUE(recorder.WaitFor("log Connected successfully."));
  EXPECT_EQ(remote.Dial({"provider", "", ""}, Record()), EBUSY);
  EXPECT_EQ(ReadLines(PppdLog()).size(), 1u);
  remote.HangUp();
  EXPECT_TRUE(recorder.WaitFor("log ended 5"));
}

TEST_F(PppRemoteAccessTest, PppdThatIgnoresTerminationIsKilledAfterTheGrace) {
  const std::string stubborn =
      dir.Write("stubborn-pppd",
                "#!/bin/sh\ntrap '' TERM\necho 'local  IP address 10.0.0.1'\n"
                "exec sleep 100\n");
  ::chmod(stubborn.c_str(), 0755);
  PppOptions options = Options();
  options.Program = stubborn;
  options.HangUpGrace = std::chrono::milliseconds(200);
  PppRemoteAccess remote(options);
  ASSERT_EQ(remote.Dial({"provider", "", ""}, Record()), 0);
  ASSERT_TRUE(recorder.WaitFor("log Connected successfully."));
  remote.HangUp();
  EXPECT_TRUE(recorder.WaitFor("log ended " + std::to_string(128 + SIGKILL)));
}

// The phonebook is the peers folder; its provider entry, when there, is the default one.
TEST_F(PppRemoteAccessTest, ThePhonebookListsThePeersAndDefaultsToProviderOnlyWhenItIsThere) {
  ::setenv("TENVAR_PPP_PEERS", dir.File("peers").c_str(), 1);
  const PppRemoteAccess remote(Options());
  EXPECT_TRUE(remote.PhonebookEntries().empty());
  dir.Write("peers/office-isdn", "noauth\n");
  EXPECT_EQ(DefaultPhonebookEntry(), "");
  dir.Write("peers/provider", "noauth\n");
  EXPECT_EQ(DefaultPhonebookEntry(), "provider");
  EXPECT_EQ(remote.PhonebookEntries(), (std::vector<std::string>{"office-isdn", "provider"}));
  ::unsetenv("TENVAR_PPP_PEERS");
}

}  // namespace
}  // namespace tenvar::dialup
