#include "service/startup.h"

#include <cstdio>
#include <filesystem>
#include <optional>
#include <thread>

#include "cache/cache_accounting.h"
#include "cache/cache_statistics.h"
#include "cache/cache_store.h"
#include "dialup/dial_status_view.h"
#include "dialup/ppp_dial_manager.h"
#include "dialup/ppp_remote_access.h"
#include "dialup/tray_view.h"
#include "ftpproxy/ftp_proxy_service.h"
#include "http/session_context.h"
#include "platform/paths.h"
#include "platform/registry_store.h"
#include "platform/signals.h"
#include "platform/single_instance.h"
#include "platform/socket.h"
#include "service/command_line.h"
#include "service/lan_address.h"
#include "service/lan_registry.h"
#include "service/listener.h"
#include "service/proxy_app.h"
#include "service/run_timers.h"
#include "service/session_threads.h"
#include "service/tunnel_relay.h"

namespace tenvar::service {
namespace {

constexpr const char* kInstanceMarker = "Tenvar's secret window";
constexpr const char* kStartLine = "Tenvar started - v1.2 build 1 on 17/04/2000";
constexpr const char* kMissingConfigurationCaption = "Initialisation error";
constexpr const char* kMissingConfigurationText =
    "Initialisation file cannot be found, supply it as a command line argument or make sure it "
    "is in the same directory as the Tenvar executable.";

const platform::ExitEvent* signalledEvent = nullptr;

void OnStopSignal(int) {
  if (signalledEvent != nullptr) signalledEvent->Signal();
}

void InstallStopSignals(const platform::ExitEvent& exitEvent) {
  signalledEvent = &exitEvent;
  platform::OnStopSignals(OnStopSignal);
  platform::IgnoreSigpipe();
  // Every connection is a descriptor (two while relayed): the usual soft limit of 1024 would
  // cap a busy office at a few hundred browsers.
  platform::RaiseDescriptorLimit();
}

// Runs the long-lived services until the exit event, then stops them in an order in which
// nothing can touch what has already gone.
void RunServices(CProxyApp& app, UserInterface* screen) {
  auto log = [&app](std::string_view line) { app.Log.LogEvent(line); };
  // Declared before everything that uses the line: the manager outlives the sessions and
  // the timer thread, and hangs up its own dial when it goes.
  dialup::HeadlessTrayView headlessTray;
  dialup::HeadlessDialStatusView headlessDialStatus;
  dialup::TrayView& tray = screen != nullptr ? screen->Tray() : headlessTray;
  dialup::DialStatusView& dialStatus =
      screen != nullptr ? screen->DialStatus() : headlessDialStatus;
  dialup::PppDialManager dial(app.Config, std::make_unique<dialup::PppRemoteAccess>(), tray,
                              dialStatus, log);
  cache::CacheStatistics cacheStatistics(app.RequestCount, app.CacheHitCount);
  TunnelRelay relay(app.ExitEvent, [&dial] { dial.ResetIdleTimer(); }, log);
  LanRegistry registry(app.ExitEvent, log);
  if (!registry.Open()) log("Cannot start the LAN registry on UDP port 1403");
  SessionThreads sessions;
  http::SessionContext context{
      app.Config,
      app.ExitEvent,
      dial,
      log,
      app.Log.LogLock,
      app.RequestCount,
      app.CacheHitCount,
      app.CacheItemCount,
      app.CacheSizeMB,
      [&registry](const std::string& address) -> std::optional<http::LanClientNames> {
        const std::optional<LanClient> client = registry.Find(address);
        if (!client) return std::nullopt;
        return http::LanClientNames{client->MachineName, client->IpAddress, client->UserName};
      },
      [&relay](platform::UniqueFd browser, platform::UniqueFd server) {
        relay.AddLink(std::move(browser), std::move(server));
      },
      [] { return SendAbuseAlert(); },
  };
  Listener listener(context, sessions, relay);
  listener.Open();
  ftpproxy::FtpProxyService ftpService(app.Config, app.ExitEvent, dial, log, IsLanAddress);
  ftpService.Open();

  {
    std::jthread relayThread([&relay] { relay.Run(); });
    std::jthread registryThread([&registry] { registry.Run(); });
    std::jthread listenerThread([&listener] { listener.Run(); });
    std::jthread ftpThread([&ftpService] { ftpService.Run(); });
    const auto tick = [&] {
      dial.Tick();
      cacheStatistics.Tick();
    };
    // A screen may run the one-second timers on its own thread, beside its windows.
    std::optional<std::jthread> timerThread;
    if (screen == nullptr || !screen->RunsTimers()) {
      timerThread.emplace([&] { RunTimers(app.ExitEvent, tick); });
    }
    RunningServices running{app, dial, cacheStatistics,
                            [&] { return sessions.Count() + ftpService.SessionCount(); }, tick};
    if (screen != nullptr) screen->ServicesRunning(running);
    app.ExitEvent.Wait();
    if (screen != nullptr) screen->ServicesStopping();
  }
  // Every session sees the exit event in its waits; none may outlive the context.
  sessions.WaitUntilEmpty();
}

}  // namespace

int RunTenvar(const std::vector<std::string>& arguments, const StartOptions& options) {
  const CommandLine commandLine = ParseCommandLine(arguments);

  const auto marker = platform::SingleInstanceMarker::Claim(kInstanceMarker);
  if (!marker) return 1;

  const std::string programDirectory = platform::ProgramDirectory();
  const std::string configFile = commandLine.ConfigFile.empty()
                                     ? programDirectory + "/Tenvar.ini"
                                     : commandLine.ConfigFile;
  std::error_code error;
  if (!std::filesystem::is_regular_file(configFile, error)) {
    if (options.Screen != nullptr) {
      options.Screen->Messages().ShowMessage(kMissingConfigurationText,
                                             kMissingConfigurationCaption);
    } else {
      std::fprintf(stderr, "%s: %s\n", kMissingConfigurationCaption, kMissingConfigurationText);
    }
    return 1;
  }
  // Only a record for other tools; the program runs just as well without it.
  platform::WriteRegistryValue("Lindqvale/Configure", "Tenvar", platform::FullPath(configFile));

  CProxyApp app(configFile, programDirectory);
  app.Log.SetConsoleOpen(commandLine.Console);
  if (options.Screen != nullptr) {
    app.Messages.SetScreen(&options.Screen->Messages());
    app.Log.SetLineObserver(
        [screen = options.Screen](std::string_view line) { screen->LogLine(line); });
  }
  InstallStopSignals(app.ExitEvent);

  if (!config::LoadConfiguration(app.Config)) return 1;

  double cacheSizeMB = 0;
  std::int32_t cacheItemCount = 0;
  cache::RemoveUnfinishedStores(app.Config.Settings.Load()->CacheDir);
  cache::ScanCacheDirectory(app.Config.Settings.Load()->CacheDir, cacheSizeMB, cacheItemCount);
  app.CacheSizeMB = cacheSizeMB;
  app.CacheItemCount = cacheItemCount;

  app.Log.LogEvent(kStartLine);
  if (options.Screen == nullptr && !options.NoScreenReason.empty()) {
    app.Log.LogEvent("No tray icon: " + options.NoScreenReason);
  }
  RunServices(app, options.Screen);
  return 0;
}

}  // namespace tenvar::service
