// Runs the real tenvar for a test: a private directory with its configuration, its console
// lines read as they come, and the child killed if the test ends early.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "platform/child_process.h"
#include "platform/temp_dir.h"
#include "platform/unique_fd.h"

namespace tenvar::e2e {

using namespace std::chrono_literals;

class TenvarProcess {
 public:
  // Starts tenvar with `arguments` (--headless --console are always added) in `dir`, whose
  // registry lives in dir/config. The console goes through a FIFO so lines can be awaited.
  // `environment` ("NAME=value") is added to tenvar's.
  TenvarProcess(const platform::TempDir& dir, std::vector<std::string> arguments,
                const std::string& name = "tenvar", std::vector<std::string> environment = {})
      : stderrPath_(dir.File(name + ".stderr")) {
    const std::string fifo = dir.File(name + ".console");
    ::mkfifo(fifo.c_str(), 0600);
    std::vector<std::string> argv = {TENVAR_BINARY, "--headless", "--console"};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    environment.push_back("XDG_CONFIG_HOME=" + dir.File("config"));
    const platform::ChildOptions options{fifo, stderrPath_, false, std::move(environment)};
    // The reader is there first, so that the child's open for writing, made before tenvar
    // runs and before Start returns, does not wait for one; reads block again afterwards.
    console_ = platform::UniqueFd(::open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    std::optional<platform::ChildProcess> started = platform::ChildProcess::Start(argv, options);
    if (!started) return;
    child_.emplace(std::move(*started));
    ::fcntl(console_.Get(), F_SETFL, O_RDONLY);
    // Room for every line of a busy test that reads the console only at its end: a full
    // FIFO would stall tenvar's logging and with it the sessions under test.
    ::fcntl(console_.Get(), F_SETPIPE_SZ, 1 << 20);
  }

  platform::ChildProcess& Child() { return *child_; }
  std::string Stderr() const { return platform::ReadFileText(stderrPath_); }
  const std::string& ConsoleSoFar() const { return console_text_; }

  // Waits until the console has shown `text`; false after `timeout` or when tenvar ended.
  bool WaitForConsole(const std::string& text, std::chrono::milliseconds timeout = 10s) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (console_text_.find(text) == std::string::npos) {
      if (!ReadConsole(deadline)) return false;
    }
    return true;
  }

  // Stops tenvar with SIGTERM and reads the console to its end, so that ConsoleSoFar() then
  // holds every line it wrote; true when it ended within `timeout`.
  bool Stop(std::chrono::milliseconds timeout = 5s) {
    if (!child_ || !child_->Signal(SIGTERM) || !child_->WaitFor(timeout)) return false;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (ReadConsole(deadline)) {
    }
    return true;
  }

 private:
  // Appends what the console has next; false after `deadline` or at its end.
  bool ReadConsole(std::chrono::steady_clock::time_point deadline) {
    if (!console_.Valid()) return false;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    pollfd entry{console_.Get(), POLLIN, 0};
    if (::poll(&entry, 1, static_cast<int>(left.count())) <= 0) return false;
    char block[4096];
    const ssize_t got = ::read(console_.Get(), block, sizeof block);
    if (got <= 0) return false;  // tenvar has ended
    console_text_.append(block, static_cast<size_t>(got));
    return true;
  }

  std::string stderrPath_;
  platform::UniqueFd console_;
  std::string console_text_;
  std::optional<platform::ChildProcess> child_;
};

}  // namespace tenvar::e2e
