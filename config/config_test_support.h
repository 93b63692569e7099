// Helpers for tests that run the loader on files in a temporary directory.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "config/configuration.h"
#include "platform/temp_dir.h"

namespace tenvar::config {

// Remembers every message as "<caption>: <text>".
class RecordingMessages : public MessageSink {
 public:
  void ShowMessage(std::string_view text, std::string_view caption) override {
    std::lock_guard lock(lock_);
    lines_.push_back(std::string(caption) + ": " + std::string(text));
  }
  std::vector<std::string> Lines() const {
    std::lock_guard lock(lock_);
    return lines_;
  }

 private:
  mutable std::mutex lock_;
  std::vector<std::string> lines_;
};

// A configuration file in its own directory, which also serves as the program directory.
struct LoadedConfiguration {
  explicit LoadedConfiguration(const std::string& text)
      : path(dir.Write("Tenvar.ini", text)),
        configuration(path, dir.Path(), messages, [] { return std::string("provider"); }) {}

  std::vector<std::shared_ptr<HttpProxyConfig>> Proxies() const {
    return *configuration.HttpProxies.Load();
  }
  HttpProxyOptions Options(size_t index) const { return *Proxies().at(index)->Options(); }

  platform::TempDir dir;
  RecordingMessages messages;
  std::string path;
  Configuration configuration;
};

}  // namespace tenvar::config
