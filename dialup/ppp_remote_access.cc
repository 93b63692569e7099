#include "dialup/ppp_remote_access.h"

#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string_view>
#include <thread>

#include "dialup/phonebook.h"
#include "dialup/piped_child.h"
#include "dialup/ppp_link.h"
#include "dialup/ppp_progress.h"
#include "platform/unique_fd.h"

namespace tenvar::dialup {
namespace {

using platform::UniqueFd;
using Clock = std::chrono::steady_clock;

constexpr std::size_t kReadBlock = 4096;
constexpr std::size_t kLongestLine = 4096;  // a longer line is passed on in pieces
constexpr int kDrainBlocks = 16;            // read after the end, against a writing grandchild

bool IsExecutableFile(const std::string& path) {
  struct stat status {};
  return ::stat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode) &&
         ::access(path.c_str(), X_OK) == 0;
}

}  // namespace

std::string FindPppdProgram(const std::string& configured) {
  std::string name = configured;
  if (name.empty()) {
    const char* override = std::getenv("TENVAR_PPPD");
    name = (override != nullptr && override[0] != '\0') ? override : "pppd";
  }
  if (name.find('/') != std::string::npos) return IsExecutableFile(name) ? name : "";
  const char* path = std::getenv("PATH");
  // pppd lives in sbin, which an ordinary user's PATH often lacks.
  std::string folders = std::string(path != nullptr ? path : "/usr/bin:/bin") +
                        ":/usr/local/sbin:/usr/sbin:/sbin";
  std::string_view rest(folders);
  while (!rest.empty()) {
    const std::size_t colon = rest.find(':');
    const std::string_view folder = rest.substr(0, colon);
    rest = colon == std::string_view::npos ? std::string_view() : rest.substr(colon + 1);
    if (folder.empty()) continue;
    const std::string candidate = std::string(folder) + "/" + name;
    if (IsExecutableFile(candidate)) return candidate;
  }
  return "";
}

// One run of pppd and the thread that follows its output and its end.
struct PppRemoteAccess::Call {
  Call(PipedChild child, DialProgressCallback progress, UniqueFd wake,
       std::chrono::milliseconds grace)
      : Child(std::move(child)), Progress(std::move(progress)), Wake(std::move(wake)),
        Grace(grace) {}
  Call(const Call&) = delete;
  Call& operator=(const Call&) = delete;
  ~Call() {
    if (Monitor.joinable()) Monitor.join();
  }

  std::string InterfaceName() const {
    std::lock_guard guard(NameLock);
    return Interface;
  }

  void Run();
  // Reads what the pipe holds, up to `blocks` reads; closes it at its end.
  void ReadOutput(int blocks);
  void HandleLine(std::string_view line);

  PipedChild Child;
  const DialProgressCallback Progress;
  const UniqueFd Wake;  // eventfd: HangUp wakes the thread to start the kill deadline
  const std::chrono::milliseconds Grace;
  std::atomic<bool> Up{false};
  std::atomic<bool> Terminating{false};
  std::atomic<bool> Ended{false};
  mutable std::mutex NameLock;
  std::string Interface;  // guarded by NameLock
  std::string Pending;    // the monitor thread's unfinished line
  std::thread Monitor;
};

void PppRemoteAccess::Call::Run() {
  Progress({DialStep::OpenPort});
  std::optional<Clock::time_point> killAt;
  bool killed = false;
  for (;;) {
    if (Terminating && !killAt && !killed) killAt = Clock::now() + Grace;
    int timeout = -1;
    if (killAt) {
      const auto left =
          std::chrono::ceil<std::chrono::milliseconds>(*killAt - Clock::now()).count();
      timeout = left > 0 ? static_cast<int>(left) : 0;
    }
    pollfd entries[3] = {{Child.OutputFd(), POLLIN, 0},
                         {Child.EndFd(), POLLIN, 0},
                         {Wake.Get(), POLLIN, 0}};
    const int ready = ::poll(entries, 3, timeout);
    if (ready < 0) {
      if (errno == EINTR) continue;
      Child.Signal(SIGKILL);  // cannot follow it any more: end it and collect it below
      break;
    }
    if (entries[2].revents != 0) {
      std::uint64_t count = 0;
      [[maybe_unused]] ssize_t got = ::read(Wake.Get(), &count, sizeof count);
    }
    if (killAt && Clock::now() >= *killAt) {
      Child.Signal(SIGKILL);
      killAt.reset();
      killed = true;
    }
    if (entries[0].revents != 0) ReadOutput(1);
    if (entries[1].revents != 0) break;
  }
  ReadOutput(kDrainBlocks);
  if (!Pending.empty()) HandleLine(std::exchange(Pending, {}));
  const int status = Child.Reap().value_or(-1);
  Ended = true;
  Progress({DialStep::Disconnected, status});
}

void PppRemoteAccess::Call::ReadOutput(int blocks) {
  char block[kReadBlock];
  for (int round = 0; round < blocks && Child.OutputFd() >= 0; ++round) {
    const ssize_t got = ::read(Child.OutputFd(), block, sizeof block);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
    if (got <= 0) {
      Child.CloseOutput();
      return;
    }
    for (ssize_t i = 0; i < got; ++i) {
      if (block[i] == '\n' || Pending.size() >= kLongestLine) {
        HandleLine(std::exchange(Pending, {}));
        if (block[i] == '\n') continue;
      }
      Pending.push_back(block[i]);
    }
  }
}

void PppRemoteAccess::Call::HandleLine(std::string_view line) {
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  if (std::optional<std::string> name = PppInterfaceName(line)) {
    std::lock_guard guard(NameLock);
    Interface = std::move(*name);
  }
  const std::optional<DialStep> step = PppProgressStep(line);
  if (!step) return;
  if (*step == DialStep::Connected) Up = true;
  Progress({*step});
}

PppRemoteAccess::PppRemoteAccess(PppOptions options) : options_(std::move(options)) {}

PppRemoteAccess::~PppRemoteAccess() {
  HangUp();
  std::unique_ptr<Call> call;
  {
    std::lock_guard guard(lock_);
    call = std::move(call_);
  }
  call.reset();
}

bool PppRemoteAccess::Available() const { return !FindPppdProgram(options_.Program).empty(); }

std::vector<std::string> PppRemoteAccess::PhonebookEntries() const {
  return dialup::PhonebookEntries();
}

bool PppRemoteAccess::HasConnection() {
  std::string ownInterface;
  {
    std::lock_guard guard(lock_);
    if (call_ && !call_->Ended) {
      if (call_->Up && !call_->Terminating) return true;
      // Our own link does not count while it is still dialling or being hung up.
      ownInterface = call_->InterfaceName();
    }
  }
  return AnyPppLinkUp(options_.NetClassDirectory, ownInterface);
}

int PppRemoteAccess::Dial(const DialRequest& request, DialProgressCallback progress) {
  std::lock_guard dialGuard(dialLock_);
  const std::string program = FindPppdProgram(options_.Program);
  if (program.empty()) return ENOENT;
  std::unique_ptr<Call> finished;
  {
    std::lock_guard guard(lock_);
    if (call_ && !call_->Ended) return EBUSY;
    finished = std::move(call_);
  }
  // Its thread has ended the child and is at most delivering its last notification.
  finished.reset();

  std::vector<std::string> argv = {program, "call", request.Entry, "nodetach"};
  if (!request.Username.empty()) argv.insert(argv.end(), {"user", request.Username});
  if (!request.Password.empty()) argv.insert(argv.end(), {"password", request.Password});
  int error = 0;
  std::optional<PipedChild> child = PipedChild::Start(argv, options_.Environment, error);
  if (!child) return error;
  UniqueFd wake(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
  if (!wake.Valid()) return errno;

  auto call = std::make_unique<Call>(std::move(*child), std::move(progress), std::move(wake),
                                     options_.HangUpGrace);
  Call* running = call.get();
  std::lock_guard guard(lock_);
  call->Monitor = std::thread([running] { running->Run(); });
  call_ = std::move(call);
  return 0;
}

void PppRemoteAccess::HangUp() {
  std::lock_guard guard(lock_);
  if (!call_ || call_->Ended || call_->Terminating.exchange(true)) return;
  call_->Child.Signal(SIGTERM);
  const std::uint64_t one = 1;
  [[maybe_unused]] ssize_t written = ::write(call_->Wake.Get(), &one, sizeof one);
}

}  // namespace tenvar::dialup
