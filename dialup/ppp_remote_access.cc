#include "dialup/ppp_remote_access.h"

#include <poll.h>
#include <signal.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string_view>
#include <thread>

#include "dialup/phonebook.h"
#include "dialup/ppp_link.h"
#include "dialup/ppp_progress.h"
#include "platform/child_process.h"
#include "platform/file_system.h"
#include "platform/read_file.h"
#include "platform/wait.h"
#include "platform/wake_event.h"

namespace tenvar::dialup {
namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t kReadBlock = 4096;
constexpr std::size_t kLongestLine = 4096;  // a longer line is passed on in pieces
constexpr int kDrainBlocks = 16;            // read after the end, against a writing grandchild

}  // namespace

std::string FindPppdProgram(const std::string& configured) {
  std::string name = configured;
  if (name.empty()) {
    const char* override = std::getenv("TENVAR_PPPD");
    name = (override != nullptr && override[0] != '\0') ? override : "pppd";
  }
  if (name.find('/') != std::string::npos) return platform::IsExecutableFile(name) ? name : "";
  const char* path = std::getenv("PATH");
  // pppd lives in sbin, which an ordinary user's PATH often lacks.
  std::string folders =
      std::string(path != nullptr ? path : "/usr/bin:/bin") + ":/usr/local/sbin:/usr/sbin:/sbin";
  std::string_view rest(folders);
  while (!rest.empty()) {
    const std::size_t colon = rest.find(':');
    const std::string_view folder = rest.substr(0, colon);
    rest = colon == std::string_view::npos ? std::string_view() : rest.substr(colon + 1);
    if (folder.empty()) continue;
    const std::string candidate = std::string(folder) + "/" + name;
    if (platform::IsExecutableFile(candidate)) return candidate;
  }
  return "";
}

// One run of pppd and the thread that starts it, follows its output and sees its end.
struct PppRemoteAccess::Call {
  Call(std::vector<std::string> argv, std::vector<std::string> environment,
       DialProgressCallback progress, platform::WakeEvent wake, std::chrono::milliseconds grace,
       std::unique_ptr<Call> previous)
      : Argv(std::move(argv)),
        Environment(std::move(environment)),
        Progress(std::move(progress)),
        Wake(std::move(wake)),
        Grace(grace),
        Previous(std::move(previous)) {
    // Until our pppd names its interface, the one of the dial before it is still going away.
    if (Previous && !Previous->Ended) Interface = Previous->InterfaceName();
  }
  Call(const Call&) = delete;
  Call& operator=(const Call&) = delete;
  ~Call() {
    if (Monitor.joinable()) Monitor.join();
  }

  std::string InterfaceName() const {
    std::lock_guard guard(Lock);
    return Interface;
  }

  void Run();
  // Follows the running child until it ends; returns its exit status.
  int Follow(platform::ChildProcess& child);
  // Reads what the pipe holds, up to `blocks` reads; closes it at its end.
  void ReadOutput(platform::ChildProcess& child, int blocks);
  void HandleLine(std::string_view line);

  const std::vector<std::string> Argv;
  const std::vector<std::string> Environment;
  const DialProgressCallback Progress;
  const platform::WakeEvent Wake;  // HangUp wakes the thread to start the kill deadline
  const std::chrono::milliseconds Grace;
  std::unique_ptr<Call> Previous;  // a dial of ours still ending; only the thread touches it
  std::atomic<bool> Up{false};
  std::atomic<bool> Terminating{false};
  std::atomic<bool> Ended{false};
  mutable std::mutex Lock;
  std::optional<platform::ChildProcess>
      Child;              // set once under Lock; then read by HangUp, driven here
  std::string Interface;  // guarded by Lock
  std::string Pending;    // the thread's unfinished line
  std::thread Monitor;
};

void PppRemoteAccess::Call::Run() {
  // The device and the line are free only once the dial before has ended.
  Previous.reset();
  int error = ECANCELED;
  platform::ChildProcess* child = nullptr;
  {
    std::lock_guard guard(Lock);
    if (!Terminating) {
      if (std::optional<platform::ChildProcess> started = platform::ChildProcess::Start(
              Argv, {.PipeOutput = true, .Environment = Environment}, error)) {
        child = &Child.emplace(std::move(*started));
      }
    }
  }
  if (child == nullptr) {
    Ended = true;
    Progress({DialStep::Disconnected, error});
    return;
  }
  Progress({DialStep::OpenPort});
  const int status = Follow(*child);
  Ended = true;
  Progress({DialStep::Disconnected, status});
}

int PppRemoteAccess::Call::Follow(platform::ChildProcess& child) {
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
    pollfd entries[3] = {{child.OutputFd(), POLLIN, 0},
                         {child.EndFd(), POLLIN, 0},
                         {Wake.Fd(), POLLIN, 0}};
    if (const platform::SysResult polled = platform::Poll(entries, timeout); !polled.Ok()) {
      if (polled.Error == EINTR) continue;
      child.Signal(SIGKILL);  // cannot follow it any more: end it and collect it below
      break;
    }
    if (entries[2].revents != 0) Wake.Clear();
    if (killAt && Clock::now() >= *killAt) {
      child.Signal(SIGKILL);
      killAt.reset();
      killed = true;
    }
    if (entries[0].revents != 0) ReadOutput(child, 1);
    if (entries[1].revents != 0) break;
  }
  ReadOutput(child, kDrainBlocks);
  if (!Pending.empty()) HandleLine(std::exchange(Pending, {}));
  return child.Reap().value_or(-1);
}

void PppRemoteAccess::Call::ReadOutput(platform::ChildProcess& child, int blocks) {
  char block[kReadBlock];
  for (int round = 0; round < blocks && child.OutputFd() >= 0; ++round) {
    const platform::SysResult got = platform::ReadSome(child.OutputFd(), block);
    if (!got.Ok() && (got.Error == EAGAIN || got.Error == EWOULDBLOCK)) return;
    if (!got.Ok() || got.Value == 0) {
      child.CloseOutput();
      return;
    }
    for (long i = 0; i < got.Value; ++i) {
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
    std::lock_guard guard(Lock);
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
  const std::string program = FindPppdProgram(options_.Program);
  if (program.empty()) return ENOENT;
  std::vector<std::string> argv = {program, "call", request.Entry, "nodetach"};
  if (!request.Username.empty()) argv.insert(argv.end(), {"user", request.Username});
  if (!request.Password.empty()) argv.insert(argv.end(), {"password", request.Password});
  platform::WakeEvent wake;
  if (!wake.Valid()) return errno;

  std::lock_guard guard(lock_);
  // A dial being hung up is no obstacle: the new one starts once it has ended.
  if (call_ && !call_->Ended && !call_->Terminating) return EBUSY;
  auto call = std::make_unique<Call>(std::move(argv), options_.Environment, std::move(progress),
                                     std::move(wake), options_.HangUpGrace, std::move(call_));
  Call* running = call.get();
  call->Monitor = std::thread([running] { running->Run(); });
  call_ = std::move(call);
  return 0;
}

void PppRemoteAccess::HangUp() {
  std::lock_guard guard(lock_);
  if (!call_ || call_->Ended) return;
  std::lock_guard callGuard(call_->Lock);
  if (call_->Terminating.exchange(true)) return;
  if (call_->Child) call_->Child->Signal(SIGTERM);
  call_->Wake.Wake();
}

}  // namespace tenvar::dialup
