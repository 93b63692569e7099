#include "config/configuration.h"

#include <algorithm>
#include <map>
#include <optional>
#include <string_view>
#include <utility>

#include "config/settings_file.h"
#include "platform/text.h"

namespace tenvar::config {

namespace {

enum class Row {
  PhonebookEntry, Dial, Timeout, Username, Password, FTPPort, CacheDir, LimitCache, CacheLimit,
  CacheExpiry, LogFile,
  OpenHttpProxy, UseUpstream, UpstreamProxyName, UpstreamProxyPort, UseCache, AlwaysGetNewest,
  BlockFile, AdvancedBlocking, UpstreamExclusions, CacheExclusions, EnableLogging, Debug,
  RequestsLog, AbuseDetection, AbuseKeywords, TrustedSites, CloseHttpProxy,
  OpenIpTunnel, Listen, Server, Port, CloseIpTunnel,
};

struct Keyword {
  std::string_view Text;
  Row Sets;
};

// Keywords are prefixes, tested in this order; the first that matches wins.
constexpr Keyword kKeywords[] = {
    {"PhonebookEntry", Row::PhonebookEntry},
    {"Dial", Row::Dial},
    {"Timeout", Row::Timeout},
    {"Username", Row::Username},
    {"Password", Row::Password},
    {"FTPPort", Row::FTPPort},
    {"CacheDir", Row::CacheDir},
    {"LimitCache", Row::LimitCache},
    {"CacheLimit", Row::CacheLimit},
    {"CacheExpiry", Row::CacheExpiry},
    {"LogFile", Row::LogFile},
    {"<HTTPProxy", Row::OpenHttpProxy},
    {"UseUpstream", Row::UseUpstream},
    {"UpstreamProxyName", Row::UpstreamProxyName},
    {"UpstreamProxyPort", Row::UpstreamProxyPort},
    {"UseCache", Row::UseCache},
    {"AlwaysGetNewest", Row::AlwaysGetNewest},
    {"BlockFile", Row::BlockFile},
    {"AdvancedBlocking", Row::AdvancedBlocking},
    {"UpstreamExclusions", Row::UpstreamExclusions},
    {"CacheExclusions", Row::CacheExclusions},
    {"EnableLogging", Row::EnableLogging},
    {"Debug", Row::Debug},
    {"RequestsLog", Row::RequestsLog},
    {"AbuseDetection", Row::AbuseDetection},
    {"AbuseKeywords", Row::AbuseKeywords},
    {"TrustedSites", Row::TrustedSites},
    {"</HTTPProxy", Row::CloseHttpProxy},
    {"<IPTunnel>", Row::OpenIpTunnel},
    {"Listen", Row::Listen},
    {"Server", Row::Server},
    {"Port", Row::Port},
    {"</IPTunnel>", Row::CloseIpTunnel},
};

const Keyword* MatchKeyword(std::string_view line) {
  for (const Keyword& keyword : kKeywords) {
    if (platform::StartsWithIgnoreCase(line, keyword.Text)) return &keyword;
  }
  return nullptr;
}

bool IsComment(std::string_view line) {
  return line.empty() || line.front() == ';' || line.front() == '\'' || line.front() == '#';
}

// The value starts one character after the keyword, whatever that character is.
std::string_view ValueOf(std::string_view line, size_t keywordLength) {
  return platform::Trim(line.substr(std::min(line.size(), keywordLength + 1)));
}

constexpr std::string_view kDirectiveCaption = "Cannot process directive";
constexpr std::string_view kOptionCaption = "Cannot process option";

}  // namespace

// One run of the loader: works on private copies and publishes them when it ends.
class ConfigurationReader {
 public:
  explicit ConfigurationReader(Configuration& configuration)
      : configuration_(configuration),
        settings_(*configuration.Settings.Load()),
        proxies_(*configuration.HttpProxies.Load()),
        tunnels_(*configuration.IpTunnels.Load()) {}

  bool Run() {
    const SettingsFile file = ReadSettingsFile(configuration_.ConfigFilePath);
    if (file.Outcome != SettingsFileOutcome::Missing) {
      configuration_.configFileTime_ = file.Time;
    } else if (const auto time = platform::LastWriteTime(configuration_.ConfigFilePath)) {
      // There but unreadable: its time is kept so that the check does not reload it again
      // until it changes.
      configuration_.configFileTime_ = *time;
    }
    SetLoadTimeDefaults();
    // Refused like a missing file; its time is kept, so it is reported once per change.
    if (file.Outcome == SettingsFileOutcome::Refused) {
      Message(RefusedFileMessage(configuration_.ConfigFilePath), "Cannot read configuration");
    }

    bool completed = true;
    if (file.Outcome == SettingsFileOutcome::Read) {
      for (const std::string& line : platform::SplitLines(file.Contents)) {
        if (!ReadLine(platform::Trim(line))) {
          completed = false;
          break;
        }
      }
      // An instance left open keeps what was applied to an existing record; a new one that
      // was never closed is dropped.
      if (current_ && !currentIsNew_) staged_[current_.get()] = currentOptions_;
    }
    Publish();
    return completed;
  }

 private:
  void SetLoadTimeDefaults() {
    const std::string& directory = configuration_.ProgramDirectory;
    settings_.TempDir = directory + "/Temp";
    settings_.CacheDir = directory + "/cache";
    settings_.LogFile = directory + "/Tenvar.log";
    settings_.PhonebookEntry =
        configuration_.defaultPhonebookEntry_ ? configuration_.defaultPhonebookEntry_() : "";
  }

  // False only when reading must stop.
  bool ReadLine(std::string_view line) {
    if (IsComment(line)) return true;
    const Keyword* keyword = MatchKeyword(line);
    if (keyword == nullptr) return true;
    const std::string_view value = ValueOf(line, keyword->Text.size());

    switch (keyword->Sets) {
      case Row::PhonebookEntry: settings_.PhonebookEntry = value; return true;
      case Row::Dial: settings_.Dial = ParseBoolean(value); return true;
      case Row::Timeout: settings_.Timeout = platform::ParseNumber(value); return true;
      case Row::Username: settings_.Username = value; return true;
      case Row::Password: settings_.Password = value; return true;
      case Row::FTPPort: settings_.FTPPort = platform::ParseNumber(value); return true;
      case Row::CacheDir: settings_.CacheDir = value; return true;
      case Row::LimitCache: settings_.LimitCache = ParseBoolean(value); return true;
      case Row::CacheLimit: settings_.CacheLimit = platform::ParseNumber(value); return true;
      case Row::CacheExpiry: settings_.CacheExpiry = platform::ParseNumber(value); return true;
      case Row::LogFile: settings_.LogFile = value; return true;
      case Row::OpenHttpProxy: return OpenHttpProxy(line);
      case Row::CloseHttpProxy: CloseHttpProxy(); return true;
      case Row::OpenIpTunnel:
        if (currentTunnel_) {
          Message("Cannot have nested IPTunnel directives, check configuration", kDirectiveCaption);
        } else {
          currentTunnel_.emplace();
        }
        return true;
      case Row::Listen:
      case Row::Server:
      case Row::Port: SetTunnelOption(keyword->Sets, value); return true;
      case Row::CloseIpTunnel: CloseIpTunnel(); return true;
      default: SetInstanceOption(*keyword, line, value); return true;
    }
  }

  bool OpenHttpProxy(std::string_view line) {
    if (current_) {
      Message("Cannot have nested HTTPProxy directives", kDirectiveCaption);
      return true;
    }
    std::string_view nameAndPort = platform::TrimLeft(line.substr(std::min<size_t>(line.size(), 11)));
    while (!nameAndPort.empty() &&
           std::string_view("\n\r\t >").find(nameAndPort.back()) != std::string_view::npos) {
      nameAndPort.remove_suffix(1);
    }
    const size_t colon = nameAndPort.find(':');
    if (colon == std::string_view::npos) {
      Message("Incorrect format for HTTPProxy directive, see documentation",
              "Cannot create HTTP proxy");
      return false;
    }
    const std::string_view name = nameAndPort.substr(0, colon);
    const std::int32_t port = platform::ParseNumber(nameAndPort.substr(colon + 1));

    for (const std::shared_ptr<HttpProxyConfig>& record : proxies_) {
      const HttpProxyOptions options = OptionsOf(*record);
      if (options.Port == port && platform::EqualsIgnoreCase(options.Name, name)) {
        current_ = record;
        currentOptions_ = options;
        currentIsNew_ = false;
        break;
      }
    }
    if (!current_) {
      current_ = std::make_shared<HttpProxyConfig>();
      current_->ReportTo(configuration_.messages_);
      currentOptions_ = HttpProxyOptions{};
      currentIsNew_ = true;
    }
    currentOptions_.Port = port;
    currentOptions_.Name = name;  // an existing record takes this line's spelling
    return true;
  }

  void SetInstanceOption(const Keyword& keyword, std::string_view line, std::string_view value) {
    const bool silentOutside = keyword.Sets == Row::RequestsLog ||
                               keyword.Sets == Row::AbuseDetection ||
                               keyword.Sets == Row::AbuseKeywords ||
                               keyword.Sets == Row::TrustedSites;
    if (!current_) {
      if (!silentOutside) {
        Message(std::string(keyword.Text) + " needs to be in a HTTPProxy directive",
                kOptionCaption);
      }
      return;
    }
    HttpProxyOptions& options = currentOptions_;
    switch (keyword.Sets) {
      case Row::UseUpstream: options.UseUpstream = ParseBoolean(value); break;
      case Row::UpstreamProxyName: options.UpstreamProxyName = value; break;
      case Row::UpstreamProxyPort: options.UpstreamProxyPort = platform::ParseNumber(value); break;
      case Row::UseCache: options.UseCache = ParseBoolean(value); break;
      case Row::AlwaysGetNewest: options.AlwaysGetNewest = ParseBoolean(value); break;
      case Row::BlockFile:
        options.BlockFile = value;
        current_->Blocking.LoadBlockFile(options);
        break;
      case Row::AdvancedBlocking: options.AdvancedBlocking = ParseBoolean(value); break;
      case Row::UpstreamExclusions: options.UpstreamExclusions = value; break;
      case Row::CacheExclusions: options.CacheExclusions = value; break;
      case Row::EnableLogging: options.EnableLogging = ParseBoolean(value); break;
      case Row::Debug: options.Debug = ParseBoolean(value); break;
      case Row::RequestsLog: options.RequestsLog = value; break;
      // Its value starts right after the keyword: "AbuseDetection=Yes" reads "=Yes".
      case Row::AbuseDetection:
        options.AbuseDetection = ParseBoolean(platform::Trim(line.substr(keyword.Text.size())));
        break;
      case Row::AbuseKeywords: options.AbuseKeywords = value; break;
      case Row::TrustedSites: options.TrustedSites = value; break;
      default: break;
    }
  }

  void CloseHttpProxy() {
    if (!current_) {
      Message("Not currently in a HTTPProxy directive, cannot terminate it", kDirectiveCaption);
      return;
    }
    current_->Blocking.ReloadIfFormDiffers(currentOptions_);
    staged_[current_.get()] = currentOptions_;
    if (currentIsNew_) proxies_.push_back(current_);
    current_.reset();
  }

  void SetTunnelOption(Row row, std::string_view value) {
    if (!currentTunnel_) {
      const std::string_view name =
          row == Row::Listen ? "Listen" : row == Row::Server ? "Server" : "Port";
      Message(std::string(name) + " option must be in an IPTunnel directive", kOptionCaption);
      return;
    }
    if (row == Row::Listen) currentTunnel_->Listen = platform::ParseNumber(value);
    if (row == Row::Server) currentTunnel_->Server = value;
    if (row == Row::Port) currentTunnel_->Port = platform::ParseNumber(value);
  }

  void CloseIpTunnel() {
    if (!currentTunnel_) {
      Message("Must be in IPTunnel directive in order to terminate it",
              "Cannot process directive \"/IPTunnel\"");
      return;
    }
    // A re-read meets every tunnel again; one already listed is not added twice.
    if (std::find(tunnels_.begin(), tunnels_.end(), *currentTunnel_) == tunnels_.end()) {
      tunnels_.push_back(*currentTunnel_);
    }
    currentTunnel_.reset();
  }

  HttpProxyOptions OptionsOf(HttpProxyConfig& record) const {
    const auto staged = staged_.find(&record);
    return staged != staged_.end() ? staged->second : *record.Options();
  }

  void Message(std::string text, std::string_view caption) {
    messages_.emplace_back(std::move(text), caption);
  }

  void Publish() {
    for (auto& [record, options] : staged_) {
      if (!(*record->Options() == options)) record->SetOptions(std::move(options));
    }
    // Options first: a record becomes visible in the list only with its options set.
    if (!(*configuration_.Settings.Load() == settings_)) {
      configuration_.Settings.Store(std::move(settings_));
    }
    if (*configuration_.HttpProxies.Load() != proxies_) {
      configuration_.HttpProxies.Store(std::move(proxies_));
    }
    if (*configuration_.IpTunnels.Load() != tunnels_) {
      configuration_.IpTunnels.Store(std::move(tunnels_));
    }
    // Reported once the new values are in place, so the event log already has its path.
    for (const auto& [text, caption] : messages_) {
      configuration_.messages_.ShowMessage(text, caption);
    }
  }

  Configuration& configuration_;
  GlobalSettings settings_;
  Configuration::HttpProxyList proxies_;
  Configuration::IpTunnelList tunnels_;

  std::map<HttpProxyConfig*, HttpProxyOptions> staged_;  // options to publish, per record
  std::shared_ptr<HttpProxyConfig> current_;
  HttpProxyOptions currentOptions_;
  bool currentIsNew_ = false;
  std::optional<IpTunnelConfig> currentTunnel_;
  std::vector<std::pair<std::string, std::string_view>> messages_;
};

Configuration::Configuration(std::string configFilePath, std::string programDirectory,
                             MessageSink& messages,
                             std::function<std::string()> defaultPhonebookEntry)
    : ConfigFilePath(std::move(configFilePath)),
      ProgramDirectory(std::move(programDirectory)),
      messages_(messages),
      defaultPhonebookEntry_(std::move(defaultPhonebookEntry)) {}

bool LoadConfiguration(Configuration& configuration) {
  std::lock_guard lock(configuration.reloadLock_);
  return ConfigurationReader(configuration).Run();
}

bool CheckConfigurationChanged(Configuration& configuration) {
  // The common case, an unchanged file, costs one stat and no lock.
  const auto time = platform::LastWriteTime(configuration.ConfigFilePath);
  if (!time || *time == configuration.configFileTime_) return false;

  std::lock_guard lock(configuration.reloadLock_);
  // Another session may have read the new file while this one waited.
  const auto timeNow = platform::LastWriteTime(configuration.ConfigFilePath);
  if (!timeNow || *timeNow == configuration.configFileTime_) return false;
  ConfigurationReader(configuration).Run();
  return false;
}

bool CheckConfigurationChangedIfDue(Configuration& configuration,
                                    std::chrono::steady_clock::time_point now) {
  // An edited file still takes effect within a second, long before anyone has saved it and
  // turned to the browser; only the session that wins the exchange pays the stat.
  auto due = configuration.nextCheck_.load(std::memory_order_relaxed);
  if (now.time_since_epoch().count() < due) return false;
  const auto next = (now + std::chrono::seconds(1)).time_since_epoch().count();
  if (!configuration.nextCheck_.compare_exchange_strong(due, next, std::memory_order_relaxed)) {
    return false;
  }
  return CheckConfigurationChanged(configuration);
}

}  // namespace tenvar::config
