#include "service/proxy_app.h"

#include "dialup/phonebook.h"

namespace tenvar::service {
CProxyApp::CProxyApp(std::string configFilePath, std::string programDirectory)
    : Log([this] { return Config.Settings.Load()->LogFile; }),
      Messages(Log),
      Config(std::move(configFilePath), std::move(programDirectory), Messages,
             dialup::DefaultPhonebookEntry) {}

}  // namespace tenvar::service
