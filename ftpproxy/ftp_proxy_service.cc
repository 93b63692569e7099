#include "ftpproxy/ftp_proxy_service.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <optional>
#include <system_error>
#include <utility>

#include "ftpproxy/control_text.h"
#include "platform/send.h"

namespace tenvar::ftpproxy {
namespace {

constexpr std::size_t kReadSize = 64 * 1024;
// Control text waiting to be acted on; a longer "line" is not FTP and ends the session.
constexpr std::size_t kMaxControlText = 64 * 1024;
constexpr short kFailure = POLLERR | POLLHUP | POLLNVAL;

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
constexpr std::string_view kNoDataConnection = "425 Cannot open data connection\r\n";

bool Transient(int error) { return error == EAGAIN || error == EWOULDBLOCK || error == EINTR; }

enum class ReadOutcome { Data, Nothing, Closed, Failed };

ReadOutcome ReadInto(int fd, std::vector<char>& block, std::string& into) {
  const ssize_t got = ::recv(fd, block.data(), block.size(), 0);
  if (got > 0) {
    into.append(block.data(), static_cast<std::size_t>(got));
    return ReadOutcome::Data;
  }
  if (got == 0) return ReadOutcome::Closed;
  return Transient(errno) ? ReadOutcome::Nothing : ReadOutcome::Failed;
}

// Sends as much of the endpoint's remainder as its socket takes now; false when the
// socket failed for good.
bool SendSome(FtpEndpoint& endpoint) {
  if (endpoint.Unsent.empty() || endpoint.Connecting || !endpoint.Socket.Valid()) return true;
  const ssize_t sent = ::send(endpoint.Socket.Get(), endpoint.Unsent.data(),
                              endpoint.Unsent.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
  if (sent < 0) return Transient(errno);
  endpoint.Unsent.erase(0, static_cast<std::size_t>(sent));
  return true;
}

// The address a connected socket has on this machine: the one its peer sees.
std::optional<in_addr> LocalAddress(int fd) {
  sockaddr_in address{};
  socklen_t length = sizeof address;
  if (::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0 ||
      address.sin_family != AF_INET) {
    return std::nullopt;
  }
  return address.sin_addr;
}

short PollEvents(bool read, bool write) {
  return static_cast<short>((read ? POLLIN : 0) | (write ? POLLOUT : 0));
}

// What each of the session's four sockets is waited for, in the order Serve() takes them.
void RequestEvents(const FtpSession& session, pollfd* entries) {
  const bool readClient = !session.EndWhenSent && session.Server.Unsent.empty() &&
                          session.Client.Unsent.size() < kMaxControlText &&
                          session.ClientText.size() < kMaxControlText;
  entries[0] = {session.Client.Socket.Get(),
                PollEvents(readClient, !session.Client.Unsent.empty()), 0};

  const FtpEndpoint& server = session.Server;
  entries[1] = {server.Socket.Get(),
                server.Connecting ? static_cast<short>(POLLOUT)
                                  : PollEvents(session.Client.Unsent.empty() && !server.Closed,
                                               !server.Unsent.empty()),
                0};

  const FtpEndpoint& clientData = session.ClientData;
  entries[2] = {clientData.Socket.Get(),
                clientData.Connecting
                    ? static_cast<short>(POLLOUT)
                    : PollEvents(!clientData.Closed && session.ServerData.Unsent.empty(),
                                 !clientData.Unsent.empty()),
                0};

  const FtpEndpoint& serverData = session.ServerData;
  entries[3] = {serverData.Socket.Get(),
                !session.ServerDataAccepted
                    ? static_cast<short>(POLLIN)
                    : PollEvents(!serverData.Closed && clientData.Unsent.empty(),
                                 !serverData.Unsent.empty()),
                0};
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
      wakeFd_(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)),
      readBuffer_(kReadSize) {}

FtpProxyService::~FtpProxyService() {
  std::map<std::uint64_t, std::jthread> resolvers;
  {
    std::lock_guard lock(lookUpLock_);
    resolvers.swap(resolvers_);
  }
  // A look-up cannot be interrupted: this waits for it, outside the lock it posts under.
  resolvers.clear();
}

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
  std::vector<FtpSession*> sessions;
  std::vector<pollfd> entries;
  for (;;) {
    ApplyLookUps();
    {
      std::lock_guard lock(FtpSessionLock);
      FtpSessions.remove_if([](const auto& session) { return session->Ended; });
    }
    sessions.clear();
    for (const auto& session : FtpSessions) sessions.push_back(session.get());

    entries.assign(3 + 4 * sessions.size(), pollfd{-1, 0, 0});
    entries[0] = {exitEvent_.Fd(), POLLIN, 0};
    entries[1] = {listener_.Get(), POLLIN, 0};  // poll skips it when there is no service
    entries[2] = {wakeFd_.Get(), POLLIN, 0};
    for (std::size_t i = 0; i < sessions.size(); ++i) {
      RequestEvents(*sessions[i], &entries[3 + 4 * i]);
    }
    if (::poll(entries.data(), entries.size(), -1) < 0) {
      if (errno == EINTR) continue;
      Log("FTP service stopped: " + std::error_code(errno, std::generic_category()).message());
      break;
    }
    if (entries[0].revents != 0) break;
    if (entries[1].revents != 0) Accept();
    if (entries[2].revents != 0) {
      std::uint64_t count = 0;
      [[maybe_unused]] const ssize_t got = ::read(wakeFd_.Get(), &count, sizeof count);
    }
    for (std::size_t i = 0; i < sessions.size(); ++i) {
      const pollfd* session = &entries[3 + 4 * i];
      const short events[4] = {session[0].revents, session[1].revents, session[2].revents,
                               session[3].revents};
      Serve(*sessions[i], events);
    }
  }
  std::lock_guard lock(FtpSessionLock);
  FtpSessions.clear();
}

void FtpProxyService::Accept() {
  while (std::optional<platform::AcceptedConnection> connection =
             platform::AcceptConnection(listener_.Get())) {
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
    session->Client.Socket = std::move(connection->Fd);
    session->Client.Unsent = kGreeting;
    std::lock_guard lock(FtpSessionLock);
    FtpSessions.push_back(std::move(session));
  }
}

void FtpProxyService::ApplyLookUps() {
  std::vector<LookUp> lookUps;
  std::vector<std::jthread> finished;
  {
    std::lock_guard lock(lookUpLock_);
    lookUps.swap(lookUps_);
    for (const LookUp& lookUp : lookUps) {
      const auto found = resolvers_.find(lookUp.SessionId);
      if (found == resolvers_.end()) continue;
      finished.push_back(std::move(found->second));
      resolvers_.erase(found);
    }
  }
  finished.clear();  // each has posted its result and is returning
  for (const LookUp& lookUp : lookUps) {
    for (const auto& session : FtpSessions) {
      if (session->Id != lookUp.SessionId || session->State != OpenState::LookingUp) continue;
      if (lookUp.Result.Address) {
        ConnectToServer(*session, *lookUp.Result.Address);
      } else {
        OpenFailed(*session);
      }
    }
  }
}

void FtpProxyService::Serve(FtpSession& session, const short events[4]) {
  if (session.Ended) return;
  // Sockets are replaced only by the client's commands, which are acted on last: every
  // event below still belongs to the socket it was reported for.
  ServeServer(session, events[1]);
  ServeClientData(session, events[2]);
  ServeServerData(session, events[3]);
  ServeClient(session, events[0]);
  if (session.Ended) return;
  ActOnClientLines(session);
  Flush(session);
}

void FtpProxyService::ServeClient(FtpSession& session, short events) {
  if ((events & (POLLIN | kFailure)) == 0) return;
  const ReadOutcome outcome = ReadInto(session.Client.Socket.Get(), readBuffer_,
                                       session.ClientText);
  if (outcome == ReadOutcome::Closed || outcome == ReadOutcome::Failed) session.Ended = true;
}

void FtpProxyService::ServeServer(FtpSession& session, short events) {
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
  if ((events & (POLLIN | kFailure)) == 0) return;
  dial_.ResetIdleTimer();
  const ReadOutcome outcome = ReadInto(server.Socket.Get(), readBuffer_, session.ServerText);
  if (outcome == ReadOutcome::Closed || outcome == ReadOutcome::Failed) {
    ActOnServerLines(session);
    ServerGone(session);
    return;
  }
  ActOnServerLines(session);
}

void FtpProxyService::ServeClientData(FtpSession& session, short events) {
  FtpEndpoint& clientData = session.ClientData;
  if (!clientData.Socket.Valid() || events == 0) return;
  if (clientData.Connecting) {
    if (platform::PendingConnectError(clientData.Socket.Get()) != 0) {
      EndTransfer(session, TransferState::EndedFailed);
      return;
    }
    clientData.Connecting = false;
    return;
  }
  if (clientData.Closed) {
    // Nothing more can come; a connection that is gone altogether is not waited on.
    if ((events & kFailure) != 0) clientData.Socket.Reset();
    return;
  }
  if ((events & (POLLIN | kFailure)) == 0) return;
  switch (ReadInto(clientData.Socket.Get(), readBuffer_, session.ServerData.Unsent)) {
    case ReadOutcome::Closed:
      clientData.Closed = true;
      break;
    case ReadOutcome::Failed:
      EndTransfer(session, TransferState::EndedFailed);
      break;
    default:
      break;
  }
}

void FtpProxyService::ServeServerData(FtpSession& session, short events) {
  FtpEndpoint& serverData = session.ServerData;
  if (!serverData.Socket.Valid() || events == 0) return;
  if (!session.ServerDataAccepted) {
    std::optional<platform::AcceptedConnection> connection =
        platform::AcceptConnection(serverData.Socket.Get());
    if (!connection) return;
    serverData.Socket = std::move(connection->Fd);  // the listening socket closes here
    session.ServerDataAccepted = true;
    return;
  }
  if (serverData.Closed) {
    if ((events & kFailure) != 0) serverData.Socket.Reset();
    return;
  }
  if ((events & (POLLIN | kFailure)) == 0) return;
  dial_.ResetIdleTimer();
  switch (ReadInto(serverData.Socket.Get(), readBuffer_, session.ClientData.Unsent)) {
    case ReadOutcome::Closed:
      serverData.Closed = true;
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
      HandleOpen(session, *line);
      continue;
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
    if (word == "PORT") {
      HandlePort(session, *line);
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
      // The server's own greeting, however many lines it has, becomes this one line.
      session.Client.Unsent += "220 " + session.DestinationHost + " opened OK.\r\n";
      session.State = OpenState::Open;
      session.ReplyInProgress = multiline ? code : 0;
      session.DropReply = multiline;
      continue;
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

void FtpProxyService::HandleOpen(FtpSession& session, const std::string& line) {
  // One server at a time: whatever the session had open goes first.
  session.Server.Reset();
  session.ServerText.clear();
  session.ReplyInProgress = 0;
  session.DropReply = false;
  session.ClientData.Reset();
  session.ServerData.Reset();
  session.ServerDataAccepted = false;
  session.Transfer = TransferState::None;
  session.TransferDone = false;

  const std::string argument = CommandArgument(line);
  const std::optional<OpenTarget> target = ParseOpenArgument(argument);
  session.DestinationHost = target ? target->Host : argument;
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
  std::lock_guard lock(lookUpLock_);
  // Off this thread: a slow name server must not hold up the other sessions.
  resolvers_.emplace(session.Id, std::jthread([this, id = session.Id, host = target->Host] {
    platform::Resolution result = platform::ResolveIPv4(host);
    {
      std::lock_guard resultLock(lookUpLock_);
      lookUps_.push_back({id, std::move(result)});
    }
    Wake();
  }));
}

void FtpProxyService::HandlePort(FtpSession& session, const std::string& line) {
  // A new PORT starts a new transfer: the previous data pair is closed first.
  session.ClientData.Reset();
  session.ServerData.Reset();
  session.ServerDataAccepted = false;
  if (session.Transfer == TransferState::Open) session.Transfer = TransferState::EndedClean;
  ReportTransfer(session);
  session.Transfer = TransferState::None;
  session.TransferDone = false;

  const std::optional<DataAddress> client = ParseHostPort(CommandArgument(line));
  if (!client) {
    session.Client.Unsent += kBadPort;
    return;
  }
  int error = 0;
  platform::UniqueFd listener = platform::OpenTcpListener(0, error);
  const std::optional<in_addr> local = LocalAddress(session.Server.Socket.Get());
  platform::UniqueFd clientData = platform::StartConnect(client->Address, client->Port, error);
  if (!listener.Valid() || !local || !clientData.Valid()) {
    session.Client.Unsent += kNoDataConnection;
    return;
  }
  session.ClientData.Socket = std::move(clientData);
  session.ClientData.Connecting = true;
  session.ServerData.Socket = std::move(listener);
  session.Transfer = TransferState::Open;
  const std::uint16_t dataPort = platform::LocalPort(session.ServerData.Socket.Get());
  session.Server.Unsent += PortCommand({*local, dataPort});
}

void FtpProxyService::ConnectToServer(FtpSession& session, in_addr address) {
  int error = 0;
  session.Server.Socket = platform::StartConnect(address, session.DestinationPort, error);
  if (!session.Server.Socket.Valid()) {
    OpenFailed(session);
    return;
  }
  session.Server.Connecting = true;
  session.State = OpenState::AwaitingGreeting;
}

void FtpProxyService::OpenFailed(FtpSession& session) {
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
  if (session.Transfer != TransferState::Open || !session.ServerDataAccepted) return;
  const bool uploaded = session.ClientData.Closed && session.ServerData.Unsent.empty();
  const bool downloaded = session.ServerData.Closed && session.ClientData.Socket.Valid() &&
                          !session.ClientData.Connecting && session.ClientData.Unsent.empty();
  // Closing the receiving side is what tells it the data has ended.
  if (uploaded || downloaded) EndTransfer(session, TransferState::EndedClean);
}

void FtpProxyService::EndTransfer(FtpSession& session, TransferState result) {
  session.ClientData.Reset();
  session.ServerData.Reset();
  session.ServerDataAccepted = false;
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
  if (!SendSome(session.ClientData)) EndTransfer(session, TransferState::EndedFailed);
  if (session.ServerDataAccepted && !SendSome(session.ServerData)) {
    EndTransfer(session, TransferState::EndedFailed);
  }
  EndTransferIfDone(session);
  if (!SendSome(session.Server)) ServerGone(session);
  if (!SendSome(session.Client)) {
    session.Ended = true;
    return;
  }
  if (session.EndWhenSent && session.Client.Unsent.empty()) session.Ended = true;
}

void FtpProxyService::Log(const std::string& line) const {
  if (logEvent_) logEvent_(line);
}

void FtpProxyService::Wake() const {
  const std::uint64_t one = 1;
  [[maybe_unused]] const ssize_t written = ::write(wakeFd_.Get(), &one, sizeof one);
}

}  // namespace tenvar::ftpproxy
