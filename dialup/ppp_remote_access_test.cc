#include "dialup/ppp_remote_access.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>

#include "dialup/dial_test_support.h"
#include "platform/temp_dir.h"

namespace tenvar::dialup {
namespace {

std::string Describe(const DialProgress& progress) {
  if (progress.Step == DialStep::Disconnected) return "ended " + std::to_string(progress.Error);
  return std::string(DialStatusText(progress.Step).value_or("?"));
}

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
    return [this](const DialProgress& progress) { recorder.Log(Describe(progress)); };
  }
  std::string PppdLog() const { return dir.File("pppd.log"); }
  void AddUpLink(const std::string& name) const { net.Write(name + "/flags", "0x10d1\n"); }

  platform::TempDir dir;
  platform::TempDir net;
  Recorder recorder;
};

TEST_F(PppRemoteAccessTest, CallsTheEntryWithoutDetachingAndAddsOnlyTheCredentialsGiven) {
  PppRemoteAccess remote(Options());
  ASSERT_EQ(remote.Dial({"office", "alice", "s3cret"}, Record()), 0);
  ASSERT_TRUE(recorder.WaitFor("log Connected successfully."));
  remote.HangUp();
  ASSERT_TRUE(recorder.WaitFor("log ended 5"));
  ASSERT_EQ(remote.Dial({"office", "", ""}, Record()), 0);
  ASSERT_TRUE(recorder.WaitFor("log Connected successfully.", 2));
  remote.HangUp();
  ASSERT_TRUE(recorder.WaitFor("log ended 5", 2));
  EXPECT_EQ(ReadLines(PppdLog()),
            (std::vector<std::string>{"call office nodetach user alice password s3cret",
                                      "terminated", "call office nodetach", "terminated"}));
}

TEST_F(PppRemoteAccessTest, IsConnectedFromTheLocalAddressLineUntilPppdEnds) {
  Release drop(dir.File("drop"));
  PppRemoteAccess remote(Options({"FAKE_PPPD_DROP_AFTER=" + drop.Path()}));
  ASSERT_EQ(remote.Dial({"provider", "", ""}, Record()), 0);
  ASSERT_TRUE(recorder.WaitFor("log Connected successfully."));
  EXPECT_TRUE(remote.HasConnection());
  drop.Signal();
  ASSERT_TRUE(recorder.WaitFor("log ended 16"));
  EXPECT_FALSE(remote.HasConnection());
  EXPECT_EQ(recorder.Only("log "),
            (std::vector<std::string>{"Opening port", "Port opened", "Connecting...",
                                      "Device connected", "Physical connection established",
                                      "Calculating link speed", "Authentication successful",
                                      "Connected successfully.", "ended 16"}));
}

TEST_F(PppRemoteAccessTest, HangUpTerminatesPppdAndEndsTheConnectionAtOnce) {
  PppRemoteAccess remote(Options());
  ASSERT_EQ(remote.Dial({"provider", "", ""}, Record()), 0);
  ASSERT_TRUE(recorder.WaitFor("log Connected successfully."));
  remote.HangUp();
  EXPECT_FALSE(remote.HasConnection());
  ASSERT_TRUE(recorder.WaitFor("log ended 5"));
  EXPECT_EQ(ReadLines(PppdLog()).back(), "terminated");
}

TEST_F(PppRemoteAccessTest, ADialInProgressIsNoConnectionEvenWithItsInterfaceUp) {
  Release hold(dir.File("hold"));
  AddUpLink("ppp7");
  PppRemoteAccess remote(
      Options({"FAKE_PPPD_HOLD=" + hold.Path(), "FAKE_PPPD_INTERFACE=ppp7"}));
  ASSERT_EQ(remote.Dial({"provider", "", ""}, Record()), 0);
  ASSERT_TRUE(recorder.WaitFor("log Authentication successful"));
  EXPECT_FALSE(remote.HasConnection());
  AddUpLink("ppp3");  // dialled by another program
  EXPECT_TRUE(remote.HasConnection());
  remote.HangUp();
  EXPECT_TRUE(recorder.WaitFor("log ended 5"));
}

TEST_F(PppRemoteAccessTest, ALinkOfAnotherProgramCountsWithoutAnyDial) {
  PppRemoteAccess remote(Options());
  EXPECT_FALSE(remote.HasConnection());
  AddUpLink("ppp0");
  EXPECT_TRUE(remote.HasConnection());
}

TEST_F(PppRemoteAccessTest, ASecondDialIsRefusedWhileTheFirstIsUnderWay) {
  Release hold(dir.File("hold"));
  PppRemoteAccess remote(Options({"FAKE_PPPD_HOLD=" + hold.Path()}));
  ASSERT_EQ(remote.Dial({"provider", "", ""}, Record()), 0);
  EXPECT_EQ(remote.Dial({"provider", "", ""}, Record()), EBUSY);
  hold.Signal();
  ASSERT_TRUE(recorder.WaitFor("log Connected successfully."));
  EXPECT_EQ(remote.Dial({"provider", "", ""}, Record()), EBUSY);
  EXPECT_EQ(ReadLines(PppdLog()).size(), 1u);
}

TEST_F(PppRemoteAccessTest, ADialAskedForDuringAHangUpStartsOnceTheFirstHasEnded) {
  PppRemoteAccess remote(Options());
  ASSERT_EQ(remote.Dial({"provider", "", ""}, Record()), 0);
  ASSERT_TRUE(recorder.WaitFor("log Connected successfully."));
  remote.HangUp();
  ASSERT_EQ(remote.Dial({"provider", "", ""}, Record()), 0);
  ASSERT_TRUE(recorder.WaitFor("log Connected successfully.", 2));
  const std::vector<std::string> notes = recorder.Only("log ");
  const auto firstEnd = std::find(notes.begin(), notes.end(), "ended 5");
  ASSERT_NE(firstEnd, notes.end());
  EXPECT_EQ(std::count(notes.begin(), firstEnd, "Opening port"), 1);
  EXPECT_TRUE(remote.HasConnection());
}

TEST_F(PppRemoteAccessTest, PppdThatIgnoresTerminationIsKilledAfterTheGrace) {
  const std::string stubborn = dir.Write(
      "stubborn-pppd", "#!/bin/sh\ntrap '' TERM\necho 'local  IP address 10.0.0.1'\n"
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

TEST_F(PppRemoteAccessTest, WithoutAPppdProgramNothingIsAvailable) {
  PppOptions options = Options();
  options.Program = dir.File("missing/pppd");
  PppRemoteAccess remote(options);
  EXPECT_FALSE(remote.Available());
  EXPECT_EQ(remote.Dial({"provider", "", ""}, Record()), ENOENT);
  remote.HangUp();
  EXPECT_TRUE(ReadLines(PppdLog()).empty());
}

TEST_F(PppRemoteAccessTest, TheProgramIsTheOneNamedByTheEnvironment) {
  ::setenv("TENVAR_PPPD", kFakePppd, 1);
  EXPECT_EQ(FindPppdProgram(), kFakePppd);
  EXPECT_TRUE(PppRemoteAccess().Available());
  ::setenv("TENVAR_PPPD", dir.File("missing").c_str(), 1);
  EXPECT_EQ(FindPppdProgram(), "");
  EXPECT_FALSE(PppRemoteAccess().Available());
  ::unsetenv("TENVAR_PPPD");
}

}  // namespace
}  // namespace tenvar::dialup
