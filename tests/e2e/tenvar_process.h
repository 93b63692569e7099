// Runs the real tenvar for a test: a private directory with its configuration, its console
// written to a file whose lines can be awaited, and the child killed if the test ends early.
#pragma once

#include <signal.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "platform/child_process.h"
#include "platform/temp_dir.h"
#include "tests/e2e/peer_program.h"

namespace tenvar::e2e {

class TenvarProcess {
 public:
  // Starts tenvar with `arguments` (--headless --console are always added) in `dir`, whose
  // registry lives in dir/config. `environment` ("NAME=value") is added to tenvar's.
  TenvarProcess(const platform::TempDir& dir, std::vector<std::string> arguments,
                const std::string& name = "tenvar", std::vector<std::string> environment = {})
      : consolePath_(dir.File(name + ".console")), stderrPath_(dir.File(name + ".stderr")) {
    std::vector<std::string> argv = {TENVAR_BINARY, "--headless", "--console"};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    environment.push_back("XDG_CONFIG_HOME=" + dir.File("config"));
    std::optional<platform::ChildProcess> started = platform::ChildProcess::Start(
        argv, {consolePath_, stderrPath_, false, std::move(environment)});
    if (started) child_.emplace(std::move(*started));
  }

  platform::ChildProcess& Child() { return *child_; }
  std::string Stderr() const { return platform::ReadFileText(stderrPath_); }
  std::string ConsoleSoFar() const { return platform::ReadFileText(consolePath_); }

  // Waits until the console has shown `text`; false after `timeout` or when tenvar ended.
  bool WaitForConsole(const std::string& text, std::chrono::milliseconds timeout = 10s) const {
    return WaitForFileText(consolePath_, text, timeout, child_ ? child_->EndFd() : -1);
  }

  // Stops tenvar with SIGTERM, after which ConsoleSoFar() holds every line it wrote; true
  // when it ended within `timeout`.
  bool Stop(std::chrono::milliseconds timeout = 5s) {
    return child_ && child_->Signal(SIGTERM) && child_->WaitFor(timeout).has_value();
  }

 private:
  std::string consolePath_;
  std::string stderrPath_;
  std::optional<platform::ChildProcess> child_;
};

}  // namespace tenvar::e2e
