// A program started by this one, with its output sent to files. The child is killed and
// reaped when the object goes, so no test or service leaves a process behind.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "platform/unique_fd.h"

namespace tenvar::platform {

struct ChildOptions {
  std::string StdoutPath = "/dev/null";
  std::string StderrPath = "/dev/null";
  std::vector<std::string> Environment;  // "NAME=value" added to this process's environment
};

class ChildProcess {
 public:
  // Starts argv[0] (looked up in PATH); nothing when it cannot be started.
  static std::optional<ChildProcess> Start(const std::vector<std::string>& argv,
                                           const ChildOptions& options = {});

  ChildProcess(ChildProcess&& other) noexcept;
  ChildProcess& operator=(ChildProcess&&) = delete;
  ~ChildProcess();

  pid_t Pid() const { return pid_; }
  bool Signal(int signal) const;

  // The exit status (128 + signal for a killed child) once it ends within `timeout`.
  std::optional<int> WaitFor(std::chrono::milliseconds timeout);

 private:
  ChildProcess(pid_t pid, UniqueFd pidFd) : pid_(pid), pidFd_(std::move(pidFd)) {}

  pid_t pid_;
  UniqueFd pidFd_;  // becomes readable when the child ends: waits block in poll
  std::optional<int> status_;
};

}  // namespace tenvar::platform
