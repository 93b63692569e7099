#include "ftpproxy/ftp_proxy_service.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <optional>
#include <system_error>
#include <utility>

#include "ftpproxy/control_text.h"
#include "platform/send.h"
#include "platform/socket.h"
#include "platform/socket_io.h"

namespace tenvar::ftpproxy {
namespace {

constexpr std::size_t kReadSize = 64 * 1024;
// Control text waiting to be acted on; a longer "line" is not FTP and ends the session.
constexpr std::size_t kMaxControlText = 64 * 1024;
constexpr std::uint32_t kFailure = EPOLLERR | EPOLLHUP;
// How many ready descriptors one wait hands back; more are handed back by the next.
constexpr std::size_t kReadyBatch = 256;
// Connections taken from the listener per round, so that a flood of them cannot starve the
// sessions already open.
constexpr int kAcceptsPerRound = 64;
// A failed accept that would fail again at once is not retried before this.
constexpr std::chrono::milliseconds kAcceptRest{100};
// How long the loop rests after its wait failed, so that a lasting failure cannot spin it.
constexpr std::chrono::milliseconds kWaitRest{100};

constexpr std::string_view kGreeting =
    "220 Tenvar FTP Proxy server ready. Made by Lindqvale to share one Internet connection "
    "among the machines of an office.\r\n";
constexpr std::string_view kNotConnected =
    "430 Not connected to Internet, connecting now - try again in a short while\r\n";
constexpr std::string_view kOpenFailed = "550 Error from origin server\r\n";
constexpr std::string_view kTransferComplete = "226 Transfer complete\r\n";
constexpr std::string_view kTransferAborted = "426 Connection closed; transfer aborted\r\n";
constexpr std::string_view kOpenFirst = "503 Use OPEN host first\r\n";
constexpr std::string_view kGoodbye = "221 Goodbye\r\n";
constexpr std::string_view kBadPort = "501 Syntax error in PORT command\r\n";
constexpr std::string_view kBadEprt = "501 Syntax error in EPRT command\r\n";
constexpr std::string_view kBadEpsv = "501 Syntax error in EPSV command\r\n";
constexpr std::string_view kIllegalPort = "500 Illegal PORT command\r\n";
constexpr std::string_view kOnlyIPv4 = "522 Network protocol not supported, use (1)\r\n";
constexpr std::string_view kEpsvAll = "200 EPSV ALL command successful\r\n";
constexpr std::string_view kNotImplemented = "502 Command not implemented\r\n";
constexpr std::string_view kNoDataConnection = "425 Cannot open data connection\r\n";
// Ports below this belong to system services: a data connection never goes to one.
constexpr std::uint16_t kLowestDataPort = 1024;

bool Transient(int error) { return error == EAGAIN || error == EWOULDBLOCK || error == EINTR; }

enum class ReadOutcome { Data, Nothing, Closed, Failed };

ReadOutcome ReadInto(int fd, std::vector<char>& block, std::string& into) {
  const platform::SysResult got = platform::ReceiveSome(fd, block);
  if (!got.Ok()) return Transient(got.Error) ? ReadOutcome::Nothing : ReadOutcome::Failed;
  if (got.Value == 0) return ReadOutcome::Closed;
  into.append(block.data(), static_cast<std::size_t>(got.Value));
  return ReadOutcome::Data;
}

// Sends as much of the endpoint's remainder as its socket takes now; false when the
// socket failed for good. Notes since when the remainder has waited for its peer.
bool SendSome(FtpEndpoint& endpoint, std::chrono::steady_clock::time_point now) {
  if (endpoint.Unsent.empty()) {
    endpoint.WaitingSince.reset();
    return true;
  }
  if (!endpoint.WaitingSince) endpoint.WaitingSince = now;
  if (!endpoint.Established()) return true;
  const platform::SysResult sent = platform::SendSome(endpoint.Socket.Get(), endpoint.Unsent);
  if (!sent.Ok()) return Transient(sent.Error);
  endpoint.Unsent.erase(0, static_cast<std::size_t>(sent.Value));
  if (sent.Value > 0) endpoint.WaitingSince = now;
  if (endpoint.Unsent.empty()) endpoint.WaitingSince.reset();
  return true;
}

std::uint32_t Wanted(bool read, bool write) {
  return (read ? EPOLLIN : 0u) | (write ? EPOLLOUT : 0u);
}

// A data endpoint that is still being set up waits for its listener or its connect.
std::optional<std::uint32_t> SetUpEvents(const FtpEndpoint& endpoint) {
  if (endpoint.Listening) return endpoint.AcceptPaused ? 0u : std::uint32_t{EPOLLIN};
  if (endpoint.Connecting) return EPOLLOUT;
  return std::nullopt;
}

// What each of the session's four sockets is waited for, in the order Serve() takes them.
void WantedEvents(const FtpSession& session, std::uint32_t* events) {
  const bool readClient = !session.EndWhenSent && session.Server.Unsent.empty() &&
                          session.Client.Unsent.size() < kMaxControlText &&
                          session.ClientText.size() < kMaxControlText;
  events[0] = Wanted(readClient, !session.Client.Unsent.empty());

  const FtpEndpoint& server = session.Server;
  events[1] = server.Connecting
                  ? EPOLLOUT
                  : Wanted(session.Client.Unsent.empty() && !server.Closed, !server.Unsent.empty());

  const FtpEndpoint& clientData = session.ClientData;
  const FtpEndpoint& serverData = session.ServerData;
  events[2] = SetUpEvents(clientData)
                  .value_or(Wanted(!clientData.Closed && serverData.Unsent.empty(),
                                   !clientData.Unsent.empty()));
  events[3] = SetUpEvents(serverData)
                  .value_or(Wanted(!serverData.Closed && clientData.Unsent.empty(),
                                   !serverData.Unsent.empty()));
}

// Keys of the epoll set: a session's four sockets are Id * 4 + their place in Serve(); ids
// start at 1, which leaves the first four keys to the service's own descriptors.
constexpr std::uint64_t kExitKey = 0;
constexpr std::uint64_t kListenerKey = 1;
constexpr std::uint64_t kLookUpKey = 2;
constexpr std::uint64_t kSlots = 4;

// A transfer's two data connections: `connecting` has started its connect to the side that
// listens (the client in active mode, the server in passive mode); `listening` waits for
// the one peer it expects. The listening port.
std::uint16_t OpenDataPair(FtpSession& session, FtpEndpoint& connecting,
                           platform::UniqueFd connection, FtpEndpoint& listening,
                           platform::UniqueFd listener, in_addr expected) {
  connecting.Use(std::move(connection));
  connecting.Connecting = true;
  listening.Use(std::move(listener));
  listening.Listening = true;
  listening.Expected = expected;
  session.Transfer = TransferState::Open;
  return platform::LocalPort(listening.Socket.Get());
}

}  // namespace

FtpProxyService::FtpProxyService(config::Configuration& configuration,
                                 const platform::ExitEvent& exitEvent, dialup::DialManager& dial,
                                 std::function<void(std::string_view)> logEvent,
                                 std::function<bool(in_addr)> isLanClient)
    : configuration_(configuration),
      exitEvent_(exitEvent),
      dial_(dial),
      logEvent_(std::move(logEvent)),
      isLanClient_(std::move(isLanClient)),
      readBuffer_(kReadSize) {}

bool FtpProxyService::Open() {
  const std::int32_t port = configuration_.Settings.Load()->FTPPort;
  if (port == 0) return false;
  int error = EINVAL;
  platform::UniqueFd socket;
  if (port > 0 && port <= 65535) {
    socket = platform::OpenTcpListener(static_cast<std::uint16_t>(port), error);
  }
  if (!socket.Valid()) {
    Log("Cannot start FTP service, winsock error (" + std::to_string(error) + ")");
    return false;
  }
  return Open(std::move(socket));
}

bool FtpProxyService::Open(platform::UniqueFd listeningSocket) {
  if (!listeningSocket.Valid() || !platform::SetNonBlocking(listeningSocket.Get())) return false;
  listener_ = std::move(listeningSocket);
  Log("FTP service started on port " + std::to_string(platform::LocalPort(listener_.Get())));
  return true;
}

std::size_t FtpProxyService::SessionCount() const {
  std::lock_guard lock(FtpSessionLock);
  return FtpSessions.size();
}

void FtpProxyService::Run() {
  if (!epoll_.Valid() || epoll_.Add(exitEvent_.Fd(), EPOLLIN, kExitKey) != 0 ||
      epoll_.Add(nameLookups_.Fd(), EPOLLIN, kLookUpKey) != 0 ||
      (listener_.Valid() && epoll_.Add(listener_.Get(), EPOLLIN, kListenerKey) != 0)) {
    // Only at start, with nothing served yet: there is no session to keep going.
    Log("FTP service stopped: cannot wait for its connections");
    return;
  }
  std::vector<epoll_event> ready(kReadyBatch);
  now_ = Clock::now();
  nextStallCheck_ = now_ + sendStallLimit_ / 8;
  bool exit = false;
  while (!exit) {
    ApplyLookUps();
    RemoveEndedSessions();
    for (const std::uint64_t id : touched_) {
      if (const auto found = sessionsById_.find(id); found != sessionsById_.end()) {
        Watch(*found->second);
      }
    }
    touched_.clear();
    RemoveEndedSessions();  // a session whose socket could not be watched has ended

    const int got = epoll_.Wait(ready, WaitTimeout());
    now_ = Clock::now();
    if (wakeObserver_) wakeObserver_();
    if (got < 0) {
      WaitFailed(-got);
      exit = exitEvent_.WaitFor(kWaitRest);
      continue;
    }
    waitFailing_ = false;
    ResumeAccepts();
    DispatchReady(std::span(ready.data(), static_cast<std::size_t>(got)), exit);
    if (now_ >= nextStallCheck_) EndStalledSessions();
  }
  std::lock_guard lock(FtpSessionLock);
  sessionsById_.clear();
  FtpSessions.clear();
}

void FtpProxyService::DispatchReady(std::span<epoll_event> ready, bool& exit) {
  // A session's sockets are served together, in the order Serve() relies on.
  std::sort(ready.begin(), ready.end(),
            [](const epoll_event& a, const epoll_event& b) { return a.data.u64 < b.data.u64; });
  for (std::size_t i = 0; i < ready.size();) {
    const std::uint64_t id = ready[i].data.u64 / kSlots;
    std::uint32_t events[kSlots] = {};
    for (; i < ready.size() && ready[i].data.u64 / kSlots == id; ++i) {
      events[ready[i].data.u64 % kSlots] = ready[i].events;
    }
    if (id == 0) {
      if (events[kExitKey] != 0) {
        exit = true;
        return;
      }
      // Look-up results (kLookUpKey) are taken at the top of the next round.
      if (events[kListenerKey] != 0 && !listenerPausedUntil_) Accept();
      continue;
    }
    const auto found = sessionsById_.find(id);
    if (found == sessionsById_.end()) continue;
    Serve(*found->second, events);
    Touch(*found->second);
  }
}

void FtpProxyService::Touch(FtpSession& session) {
  touched_.push_back(session.Id);
  if (session.Ended) anyEnded_ = true;
}

void FtpProxyService::RemoveEndedSessions() {
  if (!std::exchange(anyEnded_, false)) return;
  // The sockets close with their session, which takes them out of the epoll set.
  std::lock_guard lock(FtpSessionLock);
  FtpSessions.remove_if([this](const auto& session) {
    if (!session->Ended) return false;
    sessionsById_.erase(session->Id);
    return true;
  });
}

void FtpProxyService::Watch(FtpSession& session) {
  if (session.Ended) return;
  std::uint32_t events[kSlots];
  WantedEvents(session, events);
  FtpEndpoint* endpoints[kSlots] = {&session.Client, &session.Server, &session.ClientData,
                                    &session.ServerData};
  for (std::size_t slot = 0; slot < kSlots; ++slot) {
    if (!WatchEndpoint(*endpoints[slot], events[slot], session.Id * kSlots + slot)) {
      // A socket that cannot be watched would never be served: the session cannot go on.
      session.Ended = true;
      anyEnded_ = true;
      return;
    }
  }
}

bool FtpProxyService::WatchEndpoint(FtpEndpoint& endpoint, std::uint32_t events,
                                    std::uint64_t key) {
  if (!endpoint.Socket.Valid()) return true;
  if (endpoint.WatchedBy != nullptr && endpoint.WatchedEvents == events) return true;
  const int fd = endpoint.Socket.Get();
  const int error =
      endpoint.WatchedBy != nullptr ? epoll_.Modify(fd, events, key) : epoll_.Add(fd, events, key);
  if (error != 0) {
    if (!std::exchange(watchFailing_, true)) {
      Log("FTP: Cannot watch a connection, ending its session: " +
          std::error_code(error, std::generic_category()).message());
    }
    return false;
  }
  watchFailing_ = false;
  endpoint.WatchedBy = &epoll_;
  endpoint.WatchedEvents = events;
  return true;
}

void FtpProxyService::WatchListener(bool watch) {
  if (listener_.Valid()) epoll_.Modify(listener_.Get(), watch ? EPOLLIN : 0u, kListenerKey);
}

std::chrono::milliseconds FtpProxyService::WaitTimeout() const {
  Clock::time_point wake = nextStallCheck_;
  if (listenerPausedUntil_) wake = std::min(wake, *listenerPausedUntil_);
  if (!pausedDataListeners_.empty()) wake = std::min(wake, pausedDataListeners_.front().first);
  const Clock::time_point now = Clock::now();
  if (wake <= now) return std::chrono::milliseconds(0);
  // Rounded up: a wait that ends a little early would find nothing due and go round again.
  return std::chrono::ceil<std::chrono::milliseconds>(wake - now);
}

void FtpProxyService::WaitFailed(int error) {
  if (std::exchange(waitFailing_, true)) return;
  Log("FTP service cannot wait for its connections: " +
      std::error_code(error, std::generic_category()).message());
}

void FtpProxyService::Accept() {
  for (int accepted = 0; accepted < kAcceptsPerRound; ++accepted) {
    int error = 0;
    std::optional<platform::AcceptedConnection> connection =
        platform::AcceptConnection(listener_.Get(), &error);
    if (!connection) {
      if (error == ECONNABORTED || error == EPROTO || error == EPERM) continue;  // that one only
      if (error != EAGAIN && error != EWOULDBLOCK) AcceptFailed(error);
      return;
    }
    descriptorsShort_ = false;
    if (!isLanClient_ || !isLanClient_(connection->Peer)) {
      Log("Refused connection from " + platform::FormatAddress(connection->Peer));
      continue;
    }
    if (configuration_.Settings.Load()->Dial) {
      dial_.CheckConnected();
      if (dial_.State() != dialup::ConnectionState::Connected) {
        dial_.EnsureConnected();
        // A fresh connection has room for one line, so this never waits.
        platform::SendString(connection->Fd.Get(), kNotConnected, exitEvent_);
        continue;
      }
    }
    auto session = std::make_unique<FtpSession>();
    session->Id = nextSessionId_++;
    session->ClientAddress = connection->Peer;
    session->Client.Use(std::move(connection->Fd));
    session->Client.Unsent = kGreeting;
    sessionsById_[session->Id] = session.get();
    Touch(*session);
    std::lock_guard lock(FtpSessionLock);
    FtpSessions.push_back(std::move(session));
  }
}

void FtpProxyService::AcceptFailed(int error) {
  // The connection stays queued and the listener readable: accepting again at once would
  // fail again, so the listener rests and the loop waits for the rest of its sessions.
  listenerPausedUntil_ = now_ + kAcceptRest;
  WatchListener(false);
  if (std::exchange(descriptorsShort_, true)) return;
  Log("FTP service cannot accept connections for now: " +
      std::error_code(error, std::generic_category()).message());
}

void FtpProxyService::ResumeAccepts() {
  if (listenerPausedUntil_ && now_ >= *listenerPausedUntil_) {
    listenerPausedUntil_.reset();
    WatchListener(true);
  }
  while (!pausedDataListeners_.empty() && now_ >= pausedDataListeners_.front().first) {
    const std::uint64_t id = pausedDataListeners_.front().second;
    pausedDataListeners_.pop_front();
    const auto found = sessionsById_.find(id);
    if (found == sessionsById_.end()) continue;
    for (FtpEndpoint* endpoint : {&found->second->ClientData, &found->second->ServerData}) {
      endpoint->AcceptPaused = false;
    }
    Touch(*found->second);
  }
}

void FtpProxyService::EndStalledSessions() {
  nextStallCheck_ = now_ + std::max(sendStallLimit_ / 8, std::chrono::milliseconds(10));
  for (const auto& session : FtpSessions) {
    if (session->Ended) continue;
    for (const FtpEndpoint* endpoint :
         {&session->Client, &session->Server, &session->ClientData, &session->ServerData}) {
      if (!endpoint->WaitingSince || now_ - *endpoint->WaitingSince < sendStallLimit_) continue;
      // A peer that takes nothing would hold the session and its sockets for ever.
      Log("FTP: Session of " + platform::FormatAddress(session->ClientAddress) + " ended: its " +
          (endpoint == &session->Client || endpoint == &session->ClientData ? "client" : "server") +
          " took nothing for " +
          std::to_string(
              std::chrono::duration_cast<std::chrono::seconds>(sendStallLimit_).count()) +
          " s");
      session->Ended = true;
      anyEnded_ = true;
      break;
    }
  }
}

void FtpProxyService::ApplyLookUps() {
  for (const auto& [sessionId, result] : nameLookups_.Take()) {
    for (const auto& session : FtpSessions) {
      if (session->Id != sessionId || session->State != OpenState::LookingUp) continue;
      if (result.Address) {
        ConnectToServer(*session, *result.Address);
      } else {
        OpenFailed(*session);
      }
      Touch(*session);
    }
  }
}

void FtpProxyService::Serve(FtpSession& session, const std::uint32_t events[4]) {
  if (session.Ended) return;
  // Data sockets are replaced only by the server's replies and the client's commands, which
  // are acted on after them: every event below still belongs to the socket it was reported
  // for.
  ServeData(session, session.ClientData, session.ServerData, events[2]);
  ServeData(session, session.ServerData, session.ClientData, events[3]);
  ServeServer(session, events[1]);
  ServeClient(session, events[0]);
  if (session.Ended) return;
  ActOnClientLines(session);
  Flush(session);
}

void FtpProxyService::ServeClient(FtpSession& session, std::uint32_t events) {
  if ((events & (EPOLLIN | kFailure)) == 0) return;
  const ReadOutcome outcome = ReadInto(session.Client.Socket.Get(), readBuffer_,
                                       session.ClientText);
  if (outcome == ReadOutcome::Closed || outcome == ReadOutcome::Failed) session.Ended = true;
}

void FtpProxyService::ServeServer(FtpSession& session, std::uint32_t events) {
  FtpEndpoint& server = session.Server;
  if (!server.Socket.Valid() || events == 0) return;
  if (server.Connecting) {
    if (platform::PendingConnectError(server.Socket.Get()) != 0) {
      OpenFailed(session);
      return;
    }
    server.Connecting = false;
    return;
  }
  if ((events & (EPOLLIN | kFailure)) == 0) return;
  dial_.ResetIdleTimer();
  const ReadOutcome outcome = ReadInto(server.Socket.Get(), readBuffer_, session.ServerText);
  if (outcome == ReadOutcome::Closed || outcome == ReadOutcome::Failed) {
    ActOnServerLines(session);
    ServerGone(session);
    return;
  }
  ActOnServerLines(session);
}

// One data connection's readiness: an accept, a finished connect, or bytes for the other
// side's queue. Bytes from the server keep the dial-up line from hanging up as idle.
void FtpProxyService::ServeData(FtpSession& session, FtpEndpoint& from, FtpEndpoint& to,
                                std::uint32_t events) {
  if (!from.Socket.Valid() || events == 0) return;
  if (from.Listening) {
    AcceptData(session, from);
    return;
  }
  if (from.Connecting) {
    if (platform::PendingConnectError(from.Socket.Get()) != 0) {
      EndTransfer(session, TransferState::EndedFailed);
      return;
    }
    from.Connecting = false;
    return;
  }
  if (from.Closed) {
    // Nothing more can come; a connection that is gone altogether is not waited on.
    if ((events & kFailure) != 0) from.CloseSocket();
    return;
  }
  if ((events & (EPOLLIN | kFailure)) == 0) return;
  if (&from == &session.ServerData) dial_.ResetIdleTimer();
  switch (ReadInto(from.Socket.Get(), readBuffer_, to.Unsent)) {
    case ReadOutcome::Closed:
      from.Closed = true;
      break;
    case ReadOutcome::Failed:
      EndTransfer(session, TransferState::EndedFailed);
      break;
    default:
      break;
  }
}

void FtpProxyService::ActOnClientLines(FtpSession& session) {
  // While a server is being opened the client's lines wait: they are meant for it.
  while (!session.Ended && !session.EndWhenSent &&
         (session.State == OpenState::NotOpen || session.State == OpenState::Open)) {
    const std::optional<std::string> line = TakeLine(session.ClientText);
    if (!line) {
      if (session.ClientText.size() >= kMaxControlText) session.Ended = true;
      return;
    }
    const std::string word = CommandWord(*line);
    if (word == "OPEN") {
      const std::string argument = CommandArgument(*line);
      const std::optional<OpenTarget> target = ParseOpenArgument(argument);
      HandleOpen(session, target ? target->Host : argument, target);
      continue;
    }
    if (session.State != OpenState::Open && word == "USER") {
      // The FTP-proxy convention of clients that cannot send OPEN: the server is named
      // with the user, and the client logs in as if the server had greeted it.
      if (std::optional<ProxyLogin> login = ParseProxyLogin(CommandArgument(*line))) {
        HandleOpen(session, login->Target.Host, login->Target);
        if (session.State != OpenState::NotOpen) session.LoginLine = "USER " + login->User + "\r\n";
        continue;
      }
    }
    if (session.State != OpenState::Open) {
      if (word == "QUIT") {
        session.Client.Unsent += kGoodbye;
        session.EndWhenSent = true;
      } else {
        session.Client.Unsent += kOpenFirst;
      }
      continue;
    }
    if (word == "PORT" || word == "EPRT") {
      HandleActive(session, word, CommandArgument(*line));
      continue;
    }
    if (word == "PASV" || word == "EPSV") {
      HandlePassive(session, word, CommandArgument(*line));
      continue;
    }
    if (word == "LPRT" || word == "LPSV") {
      // They would name data addresses past the proxy; clients fall back to EPRT or PASV.
      session.Client.Unsent += kNotImplemented;
      continue;
    }
    if (word == "RETR") Log("FTP: Retrieval request for " + CommandArgument(*line));
    if (word == "STOR") Log("FTP: Storage request for " + CommandArgument(*line));
    session.Server.Unsent += *line;
  }
}

void FtpProxyService::ActOnServerLines(FtpSession& session) {
  while (std::optional<std::string> line = TakeLine(session.ServerText)) {
    if (session.ReplyInProgress != 0) {
      if (!session.DropReply) session.Client.Unsent += *line;
      if (EndsMultilineReply(*line, session.ReplyInProgress)) {
        session.ReplyInProgress = 0;
        session.DropReply = false;
      }
      continue;
    }
    const int code = ReplyCode(*line).value_or(0);
    const bool multiline = OpensMultilineReply(*line);
    if (session.State == OpenState::AwaitingGreeting) {
      if (code / 100 == 1) {
        // "120 ready in a few minutes": the greeting proper is still to come.
        session.ReplyInProgress = multiline ? code : 0;
        session.DropReply = multiline;
        continue;
      }
      if (code != 220) {
        OpenFailed(session);
        return;
      }
      // The server's own greeting, however many lines it has, becomes this one line; a
      // client that logged in with "USER name@host" has been greeted already.
      if (session.LoginLine.empty()) {
        session.Client.Unsent += "220 " + session.DestinationHost + " opened OK.\r\n";
      } else {
        session.Server.Unsent += std::exchange(session.LoginLine, std::string());
      }
      session.State = OpenState::Open;
      session.ReplyInProgress = multiline ? code : 0;
      session.DropReply = multiline;
      continue;
    }
    if (session.PassiveAsked != PassiveRequest::None && code != 0 && code / 100 != 1 &&
        code != 226) {
      const PassiveRequest asked = std::exchange(session.PassiveAsked, PassiveRequest::None);
      if (code == 227) {
        OpenPassivePair(session, asked, *line);
        session.ReplyInProgress = multiline ? code : 0;
        session.DropReply = multiline;
        continue;
      }
      // A refusal reaches the client as the server worded it.
    }
    if (code == 226) {
      // The client hears of the transfer's end from the proxy, once the data has gone.
      session.TransferDone = true;
      session.ReplyInProgress = multiline ? code : 0;
      session.DropReply = multiline;
      ReportTransfer(session);
      continue;
    }
    session.Client.Unsent += *line;
    if (multiline) session.ReplyInProgress = code;
  }
  if (session.ServerText.size() >= kMaxControlText) session.Ended = true;
}

void FtpProxyService::HandleOpen(FtpSession& session, const std::string& hostText,
                                 const std::optional<OpenTarget>& target) {
  // One server at a time: whatever the session had open goes first.
  session.Server.Reset();
  session.ServerText.clear();
  session.ReplyInProgress = 0;
  session.DropReply = false;
  session.LoginLine.clear();
  ResetDataPair(session);

  session.DestinationHost = hostText;
  Log("FTP: Connection to " + session.DestinationHost);
  if (!target) {
    OpenFailed(session);
    return;
  }
  session.DestinationPort = target->Port;
  if (const std::optional<in_addr> address = platform::ParseIPv4(target->Host)) {
    ConnectToServer(session, *address);
    return;
  }
  session.State = OpenState::LookingUp;
  // Off this thread: a slow name server must not hold up the other sessions.
  nameLookups_.Start(session.Id, target->Host);
}

void FtpProxyService::ResetDataPair(FtpSession& session) {
  // A new data command starts a new transfer: the previous data pair is closed first.
  session.ClientData.Reset();
  session.ServerData.Reset();
  session.PassiveAsked = PassiveRequest::None;
  if (session.Transfer == TransferState::Open) session.Transfer = TransferState::EndedClean;
  ReportTransfer(session);
  session.Transfer = TransferState::None;
  session.TransferDone = false;
}

void FtpProxyService::HandleActive(FtpSession& session, const std::string& word,
                                   const std::string& argument) {
  ResetDataPair(session);
  std::optional<DataAddress> client;
  if (word == "PORT") {
    client = ParseHostPort(argument);
    if (!client) {
      session.Client.Unsent += kBadPort;
      return;
    }
  } else {
    const ExtendedPort extended = ParseExtendedPort(argument);
    if (extended.Kind == ExtendedPortKind::OtherFamily) {
      session.Client.Unsent += kOnlyIPv4;
      return;
    }
    if (extended.Kind == ExtendedPortKind::Malformed) {
      session.Client.Unsent += kBadEprt;
      return;
    }
    client = extended.Address;
  }
  // Data goes to the client itself and nowhere else: the proxy must not be made to
  // connect to a third host (FTP bounce) or to a system service.
  if (client->Address.s_addr != session.ClientAddress.s_addr || client->Port < kLowestDataPort) {
    Log("FTP: Illegal " + word + " command from " + platform::FormatAddress(session.ClientAddress) +
        " naming " + platform::FormatAddress(client->Address) + ":" + std::to_string(client->Port));
    session.Client.Unsent += kIllegalPort;
    return;
  }
  int error = 0;
  platform::UniqueFd listener = platform::OpenTcpListener(0, error);
  const std::optional<in_addr> local = platform::LocalAddress(session.Server.Socket.Get());
  platform::UniqueFd clientData = platform::StartConnect(client->Address, client->Port, error);
  if (!listener.Valid() || !local || !clientData.Valid()) {
    session.Client.Unsent += kNoDataConnection;
    return;
  }
  const std::uint16_t dataPort =
      OpenDataPair(session, session.ClientData, std::move(clientData), session.ServerData,
                   std::move(listener), session.ServerAddress);
  // The server hears PORT whichever the client sent: the proxy's side is IPv4.
  session.Server.Unsent += PortCommand({*local, dataPort});
}

void FtpProxyService::HandlePassive(FtpSession& session, const std::string& word,
                                    const std::string& argument) {
  if (word == "EPSV") {
    std::string upper = argument;
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (upper == "ALL") {
      // The client promises to use EPSV only, which the proxy serves itself.
      session.Client.Unsent += kEpsvAll;
      return;
    }
    if (!upper.empty() && upper != "1") {
      session.Client.Unsent +=
          upper.find_first_not_of("0123456789") == std::string::npos ? kOnlyIPv4 : kBadEpsv;
      return;
    }
  }
  ResetDataPair(session);
  // The server is asked with PASV whatever the client sent: its answer is only a port,
  // which the proxy connects to at the server's control address.
  session.PassiveAsked = word == "EPSV" ? PassiveRequest::Epsv : PassiveRequest::Pasv;
  session.Server.Unsent += "PASV\r\n";
}

void FtpProxyService::OpenPassivePair(FtpSession& session, PassiveRequest asked,
                                      const std::string& reply) {
  // The address in the reply is not used: a server behind NAT names one nobody can reach,
  // and a hostile one could point the proxy at a third host.
  const std::optional<DataAddress> server = ParsePassiveReply(reply);
  int error = 0;
  platform::UniqueFd listener = platform::OpenTcpListener(0, error);
  // The client reaches the proxy at the address it used for its control connection.
  const std::optional<in_addr> local = platform::LocalAddress(session.Client.Socket.Get());
  platform::UniqueFd serverData;
  if (server) serverData = platform::StartConnect(session.ServerAddress, server->Port, error);
  if (!listener.Valid() || !local || !serverData.Valid()) {
    session.Client.Unsent += kNoDataConnection;
    return;
  }
  const std::uint16_t dataPort =
      OpenDataPair(session, session.ServerData, std::move(serverData), session.ClientData,
                   std::move(listener), session.ClientAddress);
  session.Client.Unsent += asked == PassiveRequest::Epsv ? ExtendedPassiveReply(dataPort)
                                                         : PassiveReply({*local, dataPort});
}

void FtpProxyService::AcceptData(FtpSession& session, FtpEndpoint& endpoint) {
  for (;;) {
    int error = 0;
    std::optional<platform::AcceptedConnection> connection =
        platform::AcceptConnection(endpoint.Socket.Get(), &error);
    if (!connection) {
      if (error == ECONNABORTED || error == EPROTO || error == EPERM) continue;
      if (error == EAGAIN || error == EWOULDBLOCK) return;
      // As with the control listener: the data port rests, then is watched again.
      endpoint.AcceptPaused = true;
      pausedDataListeners_.emplace_back(now_ + kAcceptRest, session.Id);
      if (!std::exchange(descriptorsShort_, true)) {
        Log("FTP service cannot accept data connections for now: " +
            std::error_code(error, std::generic_category()).message());
      }
      return;
    }
    descriptorsShort_ = false;
    if (connection->Peer.s_addr != endpoint.Expected.s_addr) {
      Log("FTP: Refused data connection from " + platform::FormatAddress(connection->Peer));
      continue;  // closed as it goes out of scope
    }
    endpoint.Use(std::move(connection->Fd));  // the listening socket closes here
    endpoint.Listening = false;
    return;
  }
}

void FtpProxyService::ConnectToServer(FtpSession& session, in_addr address) {
  int error = 0;
  session.ServerAddress = address;
  session.Server.Use(platform::StartConnect(address, session.DestinationPort, error));
  if (!session.Server.Socket.Valid()) {
    OpenFailed(session);
    return;
  }
  session.Server.Connecting = true;
  session.State = OpenState::AwaitingGreeting;
}

void FtpProxyService::OpenFailed(FtpSession& session) {
  session.LoginLine.clear();
  session.Server.Reset();
  session.ServerText.clear();
  session.ReplyInProgress = 0;
  session.DropReply = false;
  session.State = OpenState::NotOpen;
  session.Client.Unsent += kOpenFailed;
}

void FtpProxyService::ServerGone(FtpSession& session) {
  if (session.State == OpenState::AwaitingGreeting) {
    OpenFailed(session);
    return;
  }
  // The client gets the server's last words, then loses its connection as the proxy did.
  if (!session.DropReply) session.Client.Unsent += session.ServerText;
  session.ServerText.clear();
  session.Server.Reset();
  session.EndWhenSent = true;
}

void FtpProxyService::EndTransferIfDone(FtpSession& session) {
  if (session.Transfer != TransferState::Open) return;
  // The receiving side may still be waiting to be connected: then nothing has ended yet.
  const bool uploaded = session.ClientData.Closed && session.ServerData.Established() &&
                        session.ServerData.Unsent.empty();
  const bool downloaded = session.ServerData.Closed && session.ClientData.Established() &&
                          session.ClientData.Unsent.empty();
  // Closing the receiving side is what tells it the data has ended.
  if (uploaded || downloaded) EndTransfer(session, TransferState::EndedClean);
}

void FtpProxyService::EndTransfer(FtpSession& session, TransferState result) {
  session.ClientData.Reset();
  session.ServerData.Reset();
  session.Transfer = result;
  ReportTransfer(session);
}

void FtpProxyService::ReportTransfer(FtpSession& session) {
  if (!session.TransferDone || session.Transfer == TransferState::Open) return;
  session.Client.Unsent +=
      session.Transfer == TransferState::EndedFailed ? kTransferAborted : kTransferComplete;
  session.TransferDone = false;
  session.Transfer = TransferState::None;
}

void FtpProxyService::Flush(FtpSession& session) {
  if (!SendSome(session.ClientData, now_) || !SendSome(session.ServerData, now_)) {
    EndTransfer(session, TransferState::EndedFailed);
  }
  EndTransferIfDone(session);
  if (!SendSome(session.Server, now_)) ServerGone(session);
  if (!SendSome(session.Client, now_)) {
    session.Ended = true;
    return;
  }
  if (session.EndWhenSent && session.Client.Unsent.empty()) session.Ended = true;
}

void FtpProxyService::Log(const std::string& line) const {
  if (logEvent_) logEvent_(line);
}

}  // namespace tenvar::ftpproxy
