#include "dialup/ppp_dial_manager.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <latch>
#include <thread>

#include "config/config_test_support.h"
#include "dialup/dial_test_support.h"
#include "dialup/ppp_remote_access.h"
#include "platform/temp_dir.h"

namespace tenvar::dialup {
namespace {

const std::string kStartUp = "142 Tenvar - permanently connected";
const std::string kConnecting = "132 Tenvar - Connecting";
const std::string kConnected = "142 Tenvar - Connected";
const std::string kNotConnected = "143 Tenvar - Not connected";

class PppDialManagerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ::setenv("TENVAR_PPPD", kFakePppd, 1);
    UseSettings(true, 5);
  }
  void TearDown() override { ::unsetenv("TENVAR_PPPD"); }

  void UseSettings(bool dial, int timeout, std::string user = "", std::string password = "") {
    config::GlobalSettings settings;
    settings.Dial = dial;
    settings.Timeout = timeout;
    settings.PhonebookEntry = "provider";
    settings.Username = std::move(user);
    settings.Password = std::move(password);
    configuration.Settings.Store(settings);
  }

  std::unique_ptr<PppDialManager> Manager(std::vector<std::string> environment = {}) {
    PppOptions options;
    options.NetClassDirectory = net.Path();
    options.Environment = std::move(environment);
    options.Environment.push_back("FAKE_PPPD_LOG=" + PppdLog());
    options.HangUpGrace = std::chrono::seconds(5);
    return std::make_unique<PppDialManager>(
        configuration, std::make_unique<PppRemoteAccess>(options), recorder, recorder,
        [this](std::string_view line) { recorder.Log(line); });
  }

  // Dials with the stand-in and waits for the connection.
  std::unique_ptr<PppDialManager> Connected(std::vector<std::string> environment = {}) {
    std::unique_ptr<PppDialManager> manager = Manager(std::move(environment));
    manager->EnsureConnected();
    EXPECT_TRUE(recorder.WaitFor("tray " + kConnected));
    return manager;
  }

  std::string PppdLog() const { return dir.File("pppd.log"); }
  std::vector<std::string> Logs() const { return recorder.Only("log "); }
  static void Ticks(PppDialManager& manager, int count) {
    for (int i = 0; i < count; ++i) manager.Tick();
  }

  platform::TempDir dir;
  platform::TempDir net;
  config::RecordingMessages messages;
  config::Configuration configuration{dir.File("Tenvar.ini"), dir.Path(), messages};
  Recorder recorder;
};

// Checks and ticks while the dial is under way start no second one either. A cancelled dial
// hangs up; the first pppd may still be ending when the line is asked for again, and the new
// one starts once it has, while the old one's end adds nothing.
TEST_F(PppDialManagerTest, ManyThreadsAskingForTheLineStartExactlyOneDialWhichCanBeCancelled) {
  UseSettings(true, 5, "alice", "s3cret");
  Release hold(dir.File("hold"));
  std::unique_ptr<PppDialManager> manager = Manager({"FAKE_PPPD_HOLD=" + hold.Path()});
  constexpr int kThreads = 16;
  std::latch start(kThreads);
  {
    std::vector<std::jthread> sessions;
    for (int i = 0; i < kThreads; ++i) {
      sessions.emplace_back([&] {
        start.arrive_and_wait();
        manager->EnsureConnected();
        manager->EnsureConnected();
      });
    }
  }
  ASSERT_TRUE(recorder.WaitFor("status Authentication successful"));
  EXPECT_FALSE(manager->CheckConnected());
  manager->Tick();
  EXPECT_EQ(manager->State(), ConnectionState::Connecting);
  EXPECT_EQ(recorder.LastTray(), kConnecting);

  manager->OnDisconnected();
  EXPECT_EQ(manager->State(), ConnectionState::NotConnected);
  EXPECT_EQ(recorder.LastTray(), kNotConnected);
  EXPECT_FALSE(manager->StatusWindowShown());
  EXPECT_EQ(manager->DialStatusText(), "Disconnected");
  const std::vector<std::string> entries = recorder.Entries();
  EXPECT_EQ(std::vector<std::string>(entries.end() - 4, entries.end()),
            (std::vector<std::string>{"status Disconnected", "log Disconnecting from Internet",
                                      "tray " + kNotConnected, "window close"}));

  manager->EnsureConnected();
  ASSERT_TRUE(recorder.WaitFor("status Authentication successful", 2));
  hold.Signal();
  ASSERT_TRUE(recorder.WaitFor("tray " + kConnected));
  EXPECT_TRUE(manager->CheckConnected());
  EXPECT_EQ(manager->State(), ConnectionState::Connected);
  const std::string call = "call provider nodetach user alice password s3cret";
  EXPECT_EQ(ReadLines(PppdLog()), (std::vector<std::string>{call, "terminated", call}));
  EXPECT_EQ(Logs(), (std::vector<std::string>{"Connecting to Internet, using provider",
                                              "Disconnecting from Internet",
                                              "Connecting to Internet, using provider"}));
}

TEST_F(PppDialManagerTest, ACompletedDialShowsItsProgressThenTheConnectionUntilTheLineDrops) {
  Release drop(dir.File("drop"));
  std::unique_ptr<PppDialManager> manager = Connected({"FAKE_PPPD_DROP_AFTER=" + drop.Path()});
  EXPECT_EQ(recorder.Entries(),
            (std::vector<std::string>{
                "tray " + kStartUp, "tray " + kNotConnected, "tray " + kConnecting,
                "log Connecting to Internet, using provider", "window open", "status Opening port",
                "status Port opened", "status Connecting...", "status Device connected",
                "status Physical connection established", "status Calculating link speed",
                "status Authentication successful", "status Connected successfully.",
                "window close", "tray " + kConnected}));
  EXPECT_EQ(manager->State(), ConnectionState::Connected);
  EXPECT_FALSE(manager->StatusWindowShown());
  EXPECT_TRUE(manager->IdleCountdownRunning());
  EXPECT_EQ(manager->IdleSecondsLeft(), 300u);

  // Asking for the line while it is up does nothing.
  const std::vector<std::string> before = recorder.Entries();
  manager->EnsureConnected();
  EXPECT_EQ(recorder.Entries(), before);
  EXPECT_EQ(ReadLines(PppdLog()).size(), 1u);

  drop.Signal();
  ASSERT_TRUE(recorder.WaitFor("tray " + kNotConnected, 2));
  EXPECT_EQ(manager->State(), ConnectionState::NotConnected);
  EXPECT_EQ(recorder.LastTray(), kNotConnected);
  EXPECT_FALSE(manager->IdleCountdownRunning());
  EXPECT_FALSE(manager->CheckConnected());
  EXPECT_EQ(Logs(), (std::vector<std::string>{"Connecting to Internet, using provider",
                                              "Disconnecting from Internet"}));
}

// A Timeout of zero never hangs up; a later one counts down from each restart.
TEST_F(PppDialManagerTest, TrafficRestartsTheIdleCountdownWhichHangsUpAfterTimeoutMinutes) {
  UseSettings(true, 0);
  std::unique_ptr<PppDialManager> manager = Connected();
  manager->ResetIdleTimer();
  EXPECT_FALSE(manager->IdleCountdownRunning());
  Ticks(*manager, 3600);
  EXPECT_EQ(manager->State(), ConnectionState::Connected);

  UseSettings(true, 1);
  for (int minute = 0; minute < 5; ++minute) {
    manager->ResetIdleTimer();
    EXPECT_EQ(manager->IdleSecondsLeft(), 60u);
    Ticks(*manager, 59);
  }
  EXPECT_EQ(manager->State(), ConnectionState::Connected);
  EXPECT_EQ(manager->IdleSecondsLeft(), 1u);
  manager->Tick();
  EXPECT_EQ(manager->State(), ConnectionState::NotConnected);
  EXPECT_EQ(recorder.LastTray(), kNotConnected);
  EXPECT_FALSE(manager->IdleCountdownRunning());
  EXPECT_EQ(Logs(), (std::vector<std::string>{"Connecting to Internet, using provider",
                                              "Disconnecting from Internet"}));
  manager.reset();  // waits for the stand-in to end
  EXPECT_EQ(ReadLines(PppdLog()).back(), "terminated");
  EXPECT_EQ(Logs().size(), 2u);
}

// Without a pppd program every operation does nothing; with Dial off, ticks neither look at
// the line nor count down.
TEST_F(PppDialManagerTest, ALinkOfAnotherProgramIsUsedWithoutDialling) {
  ::setenv("TENVAR_PPPD", dir.File("missing").c_str(), 1);
  net.Write("ppp0/flags", "0x10d1\n");
  std::unique_ptr<PppDialManager> manager = Manager();
  EXPECT_FALSE(manager->CheckConnected());
  manager->EnsureConnected();
  manager->ResetIdleTimer();
  Ticks(*manager, 3);
  manager->HangUp();
  manager->OnDisconnected();
  EXPECT_EQ(manager->State(), ConnectionState::NotConnected);
  EXPECT_EQ(recorder.Entries(), std::vector<std::string>{"tray " + kStartUp});

  ::setenv("TENVAR_PPPD", kFakePppd, 1);
  UseSettings(false, 1);
  manager->ResetIdleTimer();
  Ticks(*manager, 120);
  EXPECT_EQ(manager->State(), ConnectionState::NotConnected);
  EXPECT_EQ(recorder.Entries(), std::vector<std::string>{"tray " + kStartUp});

  UseSettings(true, 5);
  manager->EnsureConnected();
  EXPECT_EQ(manager->State(), ConnectionState::Connected);
  EXPECT_EQ(recorder.LastTray(), kConnected);
  EXPECT_TRUE(Logs().empty());
  EXPECT_TRUE(ReadLines(PppdLog()).empty());
}

// Each dial first shows not connected from its check; the failure shows it again.
TEST_F(PppDialManagerTest, ADialThatCannotStartOrFailsPartWayIsLoggedAndEndsNotConnected) {
  const std::string broken = dir.Write("broken-pppd",
                                       "\x7f"
                                       "ELF, but not really");
  ::chmod(broken.c_str(), 0755);
  ::setenv("TENVAR_PPPD", broken.c_str(), 1);
  std::unique_ptr<PppDialManager> manager = Manager({"FAKE_PPPD_FAIL_AT=7"});
  manager->EnsureConnected();
  ASSERT_TRUE(recorder.WaitFor("tray " + kNotConnected, 2));
  EXPECT_EQ(manager->State(), ConnectionState::NotConnected);
  EXPECT_FALSE(manager->StatusWindowShown());

  ::setenv("TENVAR_PPPD", kFakePppd, 1);
  manager->EnsureConnected();
  ASSERT_TRUE(recorder.WaitFor("tray " + kNotConnected, 3));
  EXPECT_EQ(manager->State(), ConnectionState::NotConnected);
  EXPECT_EQ(recorder.LastTray(), kNotConnected);
  EXPECT_EQ(Logs(),
            (std::vector<std::string>{
                "Connecting to Internet, using provider", "Error connecting to Internet (8)",
                "Connecting to Internet, using provider", "Error connecting to Internet (19)"}));
  // The window keeps showing how far the dial got.
  EXPECT_TRUE(manager->StatusWindowShown());
  EXPECT_EQ(manager->DialStatusText(), "Retry authentication");
  manager->OnDisconnected();
  EXPECT_FALSE(manager->StatusWindowShown());
}

}  // namespace
}  // namespace tenvar::dialup
