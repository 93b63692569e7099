#include "platform/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

extern char** environ;

namespace tenvar::platform {
namespace {

int OpenPidFd(pid_t pid) { return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)); }

std::string NameOf(const std::string& entry) { return entry.substr(0, entry.find('=')); }

std::vector<std::string> MergedEnvironment(const std::vector<std::string>& extra) {
  std::vector<std::string> merged;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string text(*entry);
    bool replaced = false;
    for (const std::string& added : extra) replaced = replaced || NameOf(added) == NameOf(text);
    if (!replaced) merged.push_back(text);
  }
  merged.insert(merged.end(), extra.begin(), extra.end());
  return merged;
}

int WaitForChild(pid_t pid) {
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// posix_spawn's attributes and file actions, released however Start() returns.
struct SpawnSetup {
  posix_spawnattr_t Attributes;
  posix_spawn_file_actions_t Actions;
  SpawnSetup() {
    posix_spawnattr_init(&Attributes);
    posix_spawn_file_actions_init(&Actions);
  }
  ~SpawnSetup() {
    posix_spawn_file_actions_destroy(&Actions);
    posix_spawnattr_destroy(&Attributes);
  }
  SpawnSetup(const SpawnSetup&) = delete;
  SpawnSetup& operator=(const SpawnSetup&) = delete;
};

}  // namespace

std::optional<ChildProcess> ChildProcess::Start(const std::vector<std::string>& argv,
                                                const ChildOptions& options) {
  int error = 0;
  return Start(argv, options, error);
}

std::optional<ChildProcess> ChildProcess::Start(const std::vector<std::string>& argv,
                                                const ChildOptions& options, int& error) {
  error = 0;
  if (argv.empty()) {
    error = EINVAL;
    return std::nullopt;
  }
  UniqueFd readEnd;
  UniqueFd writeEnd;
  if (options.PipeOutput) {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0) {
      error = errno;
      return std::nullopt;
    }
    readEnd.Reset(ends[0]);
    writeEnd.Reset(ends[1]);
    ::fcntl(readEnd.Get(), F_SETFL, ::fcntl(readEnd.Get(), F_GETFL) | O_NONBLOCK);
  }

  SpawnSetup setup;
  // The child starts with default signal handling and nothing blocked, whatever this process
  // has set up for itself (SIGPIPE is ignored here), and sees none of our descriptors.
  sigset_t signals;
  sigfillset(&signals);
  posix_spawnattr_setsigdefault(&setup.Attributes, &signals);
  sigemptyset(&signals);
  posix_spawnattr_setsigmask(&setup.Attributes, &signals);
  posix_spawnattr_setflags(&setup.Attributes, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
  posix_spawn_file_actions_addopen(&setup.Actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  if (options.PipeOutput) {
    posix_spawn_file_actions_adddup2(&setup.Actions, writeEnd.Get(), STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&setup.Actions, writeEnd.Get(), STDERR_FILENO);
  } else {
    constexpr int kOutputFlags = O_WRONLY | O_CREAT | O_TRUNC;
    posix_spawn_file_actions_addopen(&setup.Actions, STDOUT_FILENO, options.StdoutPath.c_str(),
                                     kOutputFlags, 0644);
    posix_spawn_file_actions_addopen(&setup.Actions, STDERR_FILENO, options.StderrPath.c_str(),
                                     kOutputFlags, 0644);
  }
  posix_spawn_file_actions_addclosefrom_np(&setup.Actions, STDERR_FILENO + 1);

  std::vector<char*> arguments;
  for (const std::string& argument : argv) arguments.push_back(const_cast<char*>(argument.c_str()));
  arguments.push_back(nullptr);
  std::vector<std::string> environmentText = MergedEnvironment(options.Environment);
  std::vector<char*> environmentPointers;
  for (std::string& entry : environmentText) environmentPointers.push_back(entry.data());
  environmentPointers.push_back(nullptr);

  pid_t pid = 0;
  error = ::posix_spawnp(&pid, arguments[0], &setup.Actions, &setup.Attributes, arguments.data(),
                         environmentPointers.data());
  if (error != 0) return std::nullopt;

  UniqueFd pidFd(OpenPidFd(pid));
  if (!pidFd.Valid()) {
    error = errno;
    ::kill(pid, SIGKILL);
    WaitForChild(pid);
    return std::nullopt;
  }
  // Only the child writes into the pipe now, so its end (and its children's) is the pipe's end.
  writeEnd.Reset();
  return ChildProcess(pid, std::move(pidFd), std::move(readEnd));
}

ChildProcess::ChildProcess(ChildProcess&& other) noexcept
    : pid_(std::exchange(other.pid_, -1)),
      pidFd_(std::move(other.pidFd_)),
      output_(std::move(other.output_)),
      status_(other.status_) {}

ChildProcess::~ChildProcess() {
  if (pid_ <= 0 || status_) return;
  Signal(SIGKILL);
  WaitForChild(pid_);
}

bool ChildProcess::Signal(int signal) const {
  return !status_ && pidFd_.Valid() &&
         ::syscall(SYS_pidfd_send_signal, pidFd_.Get(), signal, nullptr, 0) == 0;
}

std::optional<int> ChildProcess::Reap() {
  if (!status_) {
    const int status = WaitForChild(pid_);
    if (status < 0) return std::nullopt;
    status_ = status;
  }
  return status_;
}

std::optional<int> ChildProcess::WaitFor(std::chrono::milliseconds timeout) {
  if (status_) return status_;
  pollfd entry{pidFd_.Get(), POLLIN, 0};
  int ready;
  do {
    ready = ::poll(&entry, 1, static_cast<int>(timeout.count()));
  } while (ready < 0 && errno == EINTR);
  if (ready <= 0) return std::nullopt;
  return Reap();
}

}  // namespace tenvar::platform
