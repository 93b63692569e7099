// A program started with its standard output and error going into one pipe that this process
// reads, and a pidfd that becomes readable when it ends, so one poll() waits for both. The
// child is killed and reaped when the object goes. One thread drives it; Signal() may be
// called from any thread meanwhile.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

#include "platform/unique_fd.h"

namespace tenvar::dialup {

class PipedChild {
 public:
  // Starts argv[0] (a path) with this process's environment, where the "NAME=value" entries of
  // `environment` are added or replace their namesakes; standard input is /dev/null. Nothing,
  // and an errno value in `error`, when it cannot be started.
  static std::optional<PipedChild> Start(const std::vector<std::string>& argv,
                                         const std::vector<std::string>& environment,
                                         int& error);

  PipedChild(PipedChild&& other) noexcept;
  PipedChild& operator=(PipedChild&&) = delete;
  PipedChild(const PipedChild&) = delete;
  ~PipedChild();

  pid_t Pid() const { return pid_; }
  // Non-blocking read end of the output pipe; -1 once closed.
  int OutputFd() const { return output_.Get(); }
  void CloseOutput() { output_.Reset(); }
  // Readable once the child has ended.
  int EndFd() const { return pidFd_.Get(); }

  // Sends a signal through the pidfd, so a reaped child's reused pid is never hit.
  bool Signal(int signal) const;

  // Collects the ended child (call when EndFd() is readable): its exit status, or 128 + the
  // signal number for a killed child. Blocks while the child still runs.
  std::optional<int> Reap();

 private:
  PipedChild(pid_t pid, platform::UniqueFd pidFd, platform::UniqueFd output)
      : pid_(pid), pidFd_(std::move(pidFd)), output_(std::move(output)) {}

  pid_t pid_;
  platform::UniqueFd pidFd_;
  platform::UniqueFd output_;
  std::optional<int> status_;
};

}  // namespace tenvar::dialup
