// Helpers for the dial-up tests: a recorder that stands in for the tray, the dialling status
// window and the event log, whose waits are bounded; FIFOs that let the pppd stand-in go on;
// and the stand-in's path. The recorder is thread-safe.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "dialup/dial_status_view.h"
#include "dialup/tray_view.h"
#include "platform/temp_dir.h"
#include "platform/text.h"
#include "platform/unique_fd.h"

namespace tenvar::dialup {

inline constexpr const char* kFakePppd = TENVAR_FAKE_PPPD;

// Long enough for a loaded machine, short enough that a hang fails the test.
inline constexpr std::chrono::seconds kPatience(15);

// Records, in order, "tray <icon> <tip>", "window open", "status <text>", "window close" and
// "log <line>".
class Recorder : public TrayView, public DialStatusView {
 public:
  void ShowStatus(int iconId, std::string_view tip) override {
    Add("tray " + std::to_string(iconId) + " " + std::string(tip));
  }
  void Open() override { Add("window open"); }
  void SetText(std::string_view text) override { Add("status " + std::string(text)); }
  void Close() override { Add("window close"); }
  void Log(std::string_view line) { Add("log " + std::string(line)); }

  std::vector<std::string> Entries() const {
    std::lock_guard guard(lock_);
    return entries_;
  }

  // The entries that begin with `kind` ("log ", "tray ", "status "), without it.
  std::vector<std::string> Only(std::string_view kind) const {
    std::vector<std::string> found;
    for (const std::string& entry : Entries()) {
      if (entry.starts_with(kind)) found.push_back(entry.substr(kind.size()));
    }
    return found;
  }

  std::string LastTray() const {
    const std::vector<std::string> trays = Only("tray ");
    return trays.empty() ? "" : trays.back();
  }

  // Blocks until `entry` has been recorded `times` times in all; false after kPatience.
  bool WaitFor(const std::string& entry, long times = 1) {
    std::unique_lock guard(lock_);
    return changed_.wait_for(guard, kPatience, [&] {
      return std::count(entries_.begin(), entries_.end(), entry) >= times;
    });
  }

 private:
  void Add(std::string entry) {
    {
      std::lock_guard guard(lock_);
      entries_.push_back(std::move(entry));
    }
    changed_.notify_all();
  }

  mutable std::mutex lock_;
  std::condition_variable changed_;
  std::vector<std::string> entries_;
};

// A FIFO the stand-in waits on. It is held open here for reading and writing, so neither
// side's open blocks and a line written before the stand-in reads stays until it does.
class Release {
 public:
  explicit Release(const std::string& path) : path_(path) {
    ::mkfifo(path.c_str(), 0600);
    fd_.Reset(::open(path.c_str(), O_RDWR | O_CLOEXEC));
  }
  const std::string& Path() const { return path_; }
  bool Signal() const { return ::write(fd_.Get(), "go\n", 3) == 3; }

 private:
  std::string path_;
  platform::UniqueFd fd_;
};

inline std::vector<std::string> ReadLines(const std::string& path) {
  return platform::SplitLines(platform::ReadFileText(path));
}

}  // namespace tenvar::dialup
