// Helpers for tests that run the loader on files in a temporary directory.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "config/configuration.h"
#include "platform/file_time.h"
#include "platform/temp_dir.h"

namespace tenvar::config {

inline constexpr platform::FileTime kSecond = 1'000'000'000;

// Writes `name` in `dir` with the given last-write time, by which the readers notice changes.
inline std::string WriteAt(const platform::TempDir& dir, std::string_view name,
                           std::string_view text, platform::FileTime time) {
  const std::string path = dir.Write(name, text);
  EXPECT_TRUE(platform::SetLastWriteTime(path, time)) << path;
  return path;
}

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
