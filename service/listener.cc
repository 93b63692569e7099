#include "service/listener.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <optional>

#include "http/request_reader.h"
#include "http/session_pipeline.h"
#include "platform/socket.h"
#include "platform/socket_io.h"
#include "service/lan_address.h"

namespace tenvar::service {
namespace {

// Tags of the epoll set: the exit event, then the listening ports by their index; every
// tag from kFirstBrowserTag on is a waiting browser.
constexpr std::uint64_t kExitTag = 0;
constexpr std::uint64_t kFirstPortTag = 1;
constexpr std::uint64_t kFirstBrowserTag = std::uint64_t{1} << 32;
constexpr std::size_t kReadBlock = 8192;
constexpr std::string_view kHeaderEnd = "\r\n\r\n";

platform::UniqueFd OpenPort(std::int32_t port) {
  if (port <= 0 || port > 65535) return platform::UniqueFd();  // 0: no listener wanted
  int error = 0;
  return platform::OpenTcpListener(static_cast<std::uint16_t>(port), error);
}

}  // namespace

Listener::Listener(http::SessionContext& context, SessionThreads& sessions, TunnelRelay& relay)
    : context_(context),
      sessions_(sessions),
      relay_(relay),
      refusals_(context.LogEvent),
      nextId_(kFirstBrowserTag) {}

void Listener::Open() {
  for (const config::IpTunnelConfig& tunnel : *context_.Config.IpTunnels.Load()) {
    TunnelPort port{tunnel, OpenPort(tunnel.Listen)};
    if (!port.ListenSocket.Valid()) continue;
    context_.LogEvent("IP Tunnel listening on port " + std::to_string(tunnel.Listen));
    tunnelPorts_.push_back(std::move(port));
  }
  for (const std::shared_ptr<config::HttpProxyConfig>& instance :
       *context_.Config.HttpProxies.Load()) {
    const std::int32_t number = instance->Options()->Port;
    HttpPort port{instance, OpenPort(number)};
    if (!port.ListenSocket.Valid()) continue;
    context_.LogEvent("HTTP Proxy started on port " + std::to_string(number));
    httpPorts_.push_back(std::move(port));
  }
}

bool Listener::RegisterPorts() {
  if (!epoll_.Valid() || epoll_.Add(context_.Exit.Fd(), EPOLLIN, kExitTag) != 0) return false;
  SetAccepting(true);
  return true;
}

// Listening sockets stay in the set; while not accepting they ask for no events.
void Listener::SetAccepting(bool accepting) {
  const std::uint32_t events = accepting ? std::uint32_t{EPOLLIN} : 0u;
  std::uint64_t tag = kFirstPortTag;
  for (const HttpPort& port : httpPorts_) {
    const int fd = port.ListenSocket.Get();
    if (epoll_.Modify(fd, events, tag) == ENOENT) epoll_.Add(fd, events, tag);
    ++tag;
  }
  for (const TunnelPort& port : tunnelPorts_) {
    const int fd = port.ListenSocket.Get();
    if (epoll_.Modify(fd, events, tag) == ENOENT) epoll_.Add(fd, events, tag);
    ++tag;
  }
  accepting_ = accepting;
}

void Listener::Run() {
  if (!RegisterPorts()) {
    context_.LogEvent("Listener stopped: cannot make its wait set");
    return;
  }
  std::array<epoll_event, 256> ready{};
  for (;;) {
    const int count = epoll_.Wait(ready, Timeout(Clock::now()));
    if (count < 0) {
      context_.LogEvent("Listener stopped: " + std::string(std::strerror(-count)));
      return;
    }
    bool outOfDescriptors = false;
    for (int i = 0; i < count; ++i) {
      const std::uint64_t tag = ready[static_cast<std::size_t>(i)].data.u64;
      if (tag == kExitTag) return;  // waiting browsers close with the listener
      if (tag >= kFirstBrowserTag) {
        Read(tag);
        continue;
      }
      const std::size_t index = tag - kFirstPortTag;
      if (!accepting_) continue;
      const bool drained = index < httpPorts_.size()
                               ? AcceptHttp(httpPorts_[index])
                               : AcceptTunnel(tunnelPorts_[index - httpPorts_.size()]);
      outOfDescriptors = outOfDescriptors || !drained;
      // An episode ends when a port's queue could be emptied again.
      if (drained) descriptorsShort_ = false;
    }
    const Clock::time_point now = Clock::now();
    if (outOfDescriptors && accepting_) {
      if (!descriptorsShort_) {
        context_.LogEvent("Out of descriptors: new connections wait until some close");
      }
      descriptorsShort_ = true;
      SetAccepting(false);
      resumeAt_ = now + kAcceptBackOff;
    } else if (!accepting_ && now >= resumeAt_) {
      SetAccepting(true);
    }
    DropLate(now);
  }
}

std::chrono::milliseconds Listener::Timeout(Clock::time_point now) const {
  std::optional<Clock::time_point> wake;
  if (!accepting_) wake = resumeAt_;
  if (!waiting_.empty()) {
    wake = std::min(wake.value_or(Clock::time_point::max()), waiting_.front().Deadline);
  }
  if (!wake) return std::chrono::milliseconds(-1);
  return std::clamp(std::chrono::ceil<std::chrono::milliseconds>(*wake - now),
                    std::chrono::milliseconds(0), std::chrono::milliseconds(60'000));
}

std::optional<platform::AcceptedConnection> Listener::NextFromLan(int listenFd,
                                                                  bool& outOfDescriptors) {
  for (;;) {
    int error = 0;
    std::optional<platform::AcceptedConnection> accepted =
        platform::AcceptConnection(listenFd, &error);
    if (!accepted) {
      outOfDescriptors = platform::IsOutOfResources(error);
      return std::nullopt;
    }
    if (IsLanAddress(accepted->Peer)) return accepted;
    refusals_.Refused(accepted->Peer);
  }
}

bool Listener::AcceptHttp(HttpPort& port) {
  // Take every pending connection: a burst is not served one per round.
  bool outOfDescriptors = false;
  while (std::optional<platform::AcceptedConnection> accepted =
             NextFromLan(port.ListenSocket.Get(), outOfDescriptors)) {
    WaitingBrowser browser{port.Config,
                           std::move(accepted->Fd),
                           platform::FormatAddress(accepted->Peer),
                           {},
                           nextId_++,
                           Clock::now() + std::chrono::seconds(http::kRequestHeaderSeconds)};
    // The request often comes with the connection: then it need not wait in the set.
    switch (ReadAvailable(browser)) {
      case Arrival::Complete:
        StartSession(std::move(browser));
        break;
      case Arrival::Incomplete:
        Wait(std::move(browser));
        break;
      case Arrival::Gone:
        break;
    }
  }
  return !outOfDescriptors;
}

bool Listener::AcceptTunnel(TunnelPort& port) {
  bool outOfDescriptors = false;
  while (std::optional<platform::AcceptedConnection> accepted =
             NextFromLan(port.ListenSocket.Get(), outOfDescriptors)) {
    if (port.Tunnel.Port <= 0 || port.Tunnel.Port > 65535) continue;
    relay_.AddTunnel(std::move(accepted->Fd), port.Tunnel.Server,
                     static_cast<std::uint16_t>(port.Tunnel.Port));
  }
  return !outOfDescriptors;
}

Listener::Arrival Listener::ReadAvailable(WaitingBrowser& browser) {
  std::string& request = browser.Request;
  char block[kReadBlock];
  for (;;) {
    const platform::SysResult got = platform::ReceiveSome(browser.Socket.Get(), block);
    if (!got.Ok()) {
      return got.Error == EAGAIN || got.Error == EWOULDBLOCK ? Arrival::Incomplete : Arrival::Gone;
    }
    if (got.Value == 0) return Arrival::Gone;
    const std::size_t searchFrom = request.size() >= 3 ? request.size() - 3 : 0;
    request.append(block, static_cast<std::size_t>(got.Value));
    // A block too large is the session's to refuse, with an answer.
    if (request.find(kHeaderEnd, searchFrom) != std::string::npos ||
        request.size() > http::kMaxRequestHeaderBytes) {
      return Arrival::Complete;
    }
  }
}

void Listener::Wait(WaitingBrowser browser) {
  if (epoll_.Add(browser.Socket.Get(), EPOLLIN | EPOLLRDHUP, browser.Id) != 0) {
    StartSession(std::move(browser));  // the session waits for the header block itself
    return;
  }
  const std::uint64_t id = browser.Id;
  waiting_.push_back(std::move(browser));
  waitingById_.emplace(id, std::prev(waiting_.end()));
}

void Listener::Read(std::uint64_t id) {
  const auto found = waitingById_.find(id);
  if (found == waitingById_.end()) return;
  const std::list<WaitingBrowser>::iterator browser = found->second;
  const Arrival arrival = ReadAvailable(*browser);
  if (arrival == Arrival::Incomplete) return;
  epoll_.Remove(browser->Socket.Get());
  WaitingBrowser leaving = std::move(*browser);
  waitingById_.erase(found);
  waiting_.erase(browser);
  if (arrival == Arrival::Complete) StartSession(std::move(leaving));
}

void Listener::StartSession(WaitingBrowser browser) {
  auto session = std::make_shared<http::HttpSession>();
  session->Config = std::move(browser.Config);
  session->ClientAddress = std::move(browser.ClientAddress);
  session->BrowserSocket = std::move(browser.Socket);
  session->RequestBuffer = std::move(browser.Request);
  sessions_.Start([this, session] { http::RunHttpSession(context_, std::move(*session)); });
}

void Listener::DropLate(Clock::time_point now) {
  while (!waiting_.empty() && waiting_.front().Deadline <= now) {
    epoll_.Remove(waiting_.front().Socket.Get());
    waitingById_.erase(waiting_.front().Id);
    waiting_.pop_front();
  }
}

}  // namespace tenvar::service
