// A program started by this one: its output goes to files, or into one pipe this process
// reads, and a pidfd becomes readable when it ends, so one poll() can wait for both. The
// child is killed and reaped when the object goes, so no service or test leaves a process
// behind. One thread drives it; Signal() may be called from any thread meanwhile.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "platform/unique_fd.h"

namespace tenvar::platform {

struct ChildOptions {
  // Where standard output and error go (made or emptied), unless PipeOutput sends both into
  // one pipe read through OutputFd(). The child opens them before Start returns: a FIFO
  // named here must already have its reader.
  std::string StdoutPath = "/dev/null";
  std::string StderrPath = "/dev/null";
  bool PipeOutput = false;
  // "NAME=value" entries added to this process's environment, replacing their namesakes.
  std::vector<std::string> Environment;
};

class ChildProcess {
 public:
  // Starts argv[0] (a path, or a name looked up in PATH) with standard input from /dev/null,
  // default signal handling and none of this process's descriptors. Nothing, and an errno
  // value in `error`, when it cannot be started.
  static std::optional<ChildProcess> Start(const std::vector<std::string>& argv,
                                           const ChildOptions& options, int& error);
  static std::optional<ChildProcess> Start(const std::vector<std::string>& argv,
                                           const ChildOptions& options = {});

  ChildProcess(ChildProcess&& other) noexcept;
  ChildProcess& operator=(ChildProcess&&) = delete;
  ChildProcess(const ChildProcess&) = delete;
  ~ChildProcess();

  pid_t Pid() const { return pid_; }
  // Non-blocking read end of the output pipe; -1 without one, or once closed.
  int OutputFd() const { return output_.Get(); }
  void CloseOutput() { output_.Reset(); }
  // Readable once the child has ended.
  int EndFd() const { return pidFd_.Get(); }

  // Sends a signal through the pidfd, so a reaped child's reused pid is never hit.
  bool Signal(int signal) const;

  // Collects the ended child: its exit status, or 128 + the signal number for a killed
  // child. Blocks while the child still runs.
  std::optional<int> Reap();

  // Reap(), once the child ends within `timeout`; nothing if it still runs then.
  std::optional<int> WaitFor(std::chrono::milliseconds timeout);

 private:
  ChildProcess(pid_t pid, UniqueFd pidFd, UniqueFd output)
      : pid_(pid), pidFd_(std::move(pidFd)), output_(std::move(output)) {}

  pid_t pid_;
  UniqueFd pidFd_;
  UniqueFd output_;
  std::optional<int> status_;
};

}  // namespace tenvar::platform
