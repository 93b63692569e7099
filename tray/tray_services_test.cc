// LiveServices over real running-program objects: what it reads before, during and after the
// services run, and that an Exit chosen before they run is not lost.
#include "tray/tray_services.h"

#include <gtest/gtest.h>

#include "dialup/ppp_remote_access.h"
#include "platform/temp_dir.h"
#include "service/proxy_app.h"

namespace tenvar::tray {
namespace {

struct Running {
  Running()
      : app(dir.Write("Tenvar.ini", ""), dir.File(".")),
        dial(app.Config,
             // A dialler that does not exist: dial-up is unavailable and every call a no-op.
             std::make_unique<dialup::PppRemoteAccess>(
                 dialup::PppOptions{.Program = dir.File("no-pppd"),
                                    .NetClassDirectory = dir.File("no-interfaces"),
                                    .Environment = {}}),
             tray, dialStatus, [](std::string_view) {}),
        statistics(app.RequestCount, app.CacheHitCount),
        services{app, dial, statistics, [this] { return connections; }, [this] { ++ticks; }} {}

  platform::TempDir dir;
  service::CProxyApp app;
  dialup::HeadlessTrayView tray;
  dialup::HeadlessDialStatusView dialStatus;
  dialup::PppDialManager dial;
  cache::CacheStatistics statistics;
  std::size_t connections = 0;
  int ticks = 0;
  service::RunningServices services;
};

TEST(LiveServices, ReadsAndExitsTheRunningProgramOnlyWhileAttachedAndKeepsAnEarlyExit) {
  Running running;
  running.app.RequestCount = 10;
  running.app.CacheHitCount = 4;
  running.app.CacheItemCount = 7;
  running.app.CacheSizeMB = 2.5;
  running.connections = 6;
  LiveServices live;
  live.Attach(&running.services);
  const DetailsInput input = live.Details();
  EXPECT_EQ(input.Connections, 6u);
  EXPECT_EQ(input.RequestCount, 10u);
  EXPECT_EQ(input.CacheHitCount, 4u);
  EXPECT_EQ(input.CacheItemCount, 7);
  EXPECT_DOUBLE_EQ(input.CacheSizeMB, 2.5);
  EXPECT_FALSE(input.Dial);
  live.Tick();
  EXPECT_EQ(running.ticks, 1);
  running.statistics.Tick();
  EXPECT_EQ(live.CacheHistory().back(), 40u);
  EXPECT_FALSE(running.app.ExitEvent.IsSignalled());
  live.Exit();
  EXPECT_TRUE(running.app.ExitEvent.IsSignalled());

  live.Attach(nullptr);
  live.Tick();
  EXPECT_EQ(running.ticks, 1);
  EXPECT_EQ(live.Details().Connections, 0u);

  // An Exit chosen before the program runs is not lost.
  Running early;
  LiveServices beforehand;
  beforehand.Exit();
  beforehand.Attach(&early.services);
  EXPECT_TRUE(early.app.ExitEvent.IsSignalled());
}

}  // namespace
}  // namespace tenvar::tray
