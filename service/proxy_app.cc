#include "service/proxy_app.h"

#include <cassert>

#include "dialup/phonebook.h"

namespace tenvar::service {
namespace {

std::atomic<CProxyApp*> installedApp{nullptr};

}  // namespace

CProxyApp::CProxyApp(std::string configFilePath, std::string programDirectory)
    : Log([this] { return Config.Settings.Load()->LogFile; }),
      Messages(Log),
      Config(std::move(configFilePath), std::move(programDirectory), Messages,
             dialup::DefaultPhonebookEntry) {}

CProxyApp& GetProxyApp() {
  CProxyApp* app = installedApp.load();
  assert(app != nullptr);
  return *app;
}

void InstallProxyApp(CProxyApp* app) { installedApp = app; }

void LogEvent(std::string_view message) { GetProxyApp().Log.LogEvent(message); }

}  // namespace tenvar::service
