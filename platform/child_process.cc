#include "platform/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <utility>

namespace tenvar::platform {
namespace {

int OpenPidFd(pid_t pid) { return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)); }

void RedirectOrDie(const std::string& path, int target) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0 || ::dup2(fd, target) < 0) ::_exit(127);
  if (fd != target) ::close(fd);
}

}  // namespace

std::optional<ChildProcess> ChildProcess::Start(const std::vector<std::string>& argv,
                                                const ChildOptions& options) {
  if (argv.empty()) return std::nullopt;
  // Everything the child needs is prepared before fork: after it only async-signal-safe calls.
  std::vector<char*> arguments;
  for (const std::string& argument : argv) arguments.push_back(const_cast<char*>(argument.c_str()));
  arguments.push_back(nullptr);
  std::vector<std::string> environmentText;
  for (char** entry = environ; *entry != nullptr; ++entry) environmentText.emplace_back(*entry);
  for (const std::string& extra : options.Environment) environmentText.push_back(extra);
  std::vector<char*> environment;
  for (std::string& entry : environmentText) environment.push_back(entry.data());
  environment.push_back(nullptr);

  const pid_t pid = ::fork();
  if (pid < 0) return std::nullopt;
  if (pid == 0) {
    RedirectOrDie(options.StdoutPath, STDOUT_FILENO);
    RedirectOrDie(options.StderrPath, STDERR_FILENO);
    ::execvpe(arguments[0], arguments.data(), environment.data());
    ::_exit(127);
  }
  UniqueFd pidFd(OpenPidFd(pid));
  return ChildProcess(pid, std::move(pidFd));
}

ChildProcess::ChildProcess(ChildProcess&& other) noexcept
    : pid_(std::exchange(other.pid_, -1)),
      pidFd_(std::move(other.pidFd_)),
      status_(other.status_) {}

ChildProcess::~ChildProcess() {
  if (pid_ <= 0 || status_) return;
  ::kill(pid_, SIGKILL);
  int status = 0;
  while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
  }
}

bool ChildProcess::Signal(int signal) const { return !status_ && ::kill(pid_, signal) == 0; }

std::optional<int> ChildProcess::WaitFor(std::chrono::milliseconds timeout) {
  if (status_) return status_;
  pollfd entry{pidFd_.Get(), POLLIN, 0};
  int ready;
  do {
    ready = ::poll(&entry, 1, static_cast<int>(timeout.count()));
  } while (ready < 0 && errno == EINTR);
  if (ready <= 0) return std::nullopt;
  int status = 0;
  if (::waitpid(pid_, &status, 0) != pid_) return std::nullopt;
  status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return status_;
}

}  // namespace tenvar::platform
