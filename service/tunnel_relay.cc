#include "service/tunnel_relay.h"

#include <netdb.h>

#include <cerrno>
#include <span>
#include <system_error>
#include <utility>

#include "platform/socket_io.h"
#include "platform/wait.h"

namespace tenvar::service {
namespace {

constexpr std::size_t kReadSize = 64 * 1024;
constexpr short kFailure = POLLERR | POLLHUP | POLLNVAL;
// The poll entries of the exit event, the wake-up and the look-up results come first.
constexpr std::size_t kFirstLinkEntry = 3;

std::string ErrnoText(int error) {
  return std::error_code(error, std::generic_category()).message();
}

bool Transient(int error) { return error == EAGAIN || error == EWOULDBLOCK || error == EINTR; }

// Sends as much of `remainder` as the socket takes now and drops what went; false when the
// socket failed for good. MSG_DONTWAIT: sockets handed over by callers may be blocking.
bool SendSome(int fd, std::string& remainder) {
  const platform::SysResult sent = platform::SendSome(fd, remainder);
  if (!sent.Ok()) return Transient(sent.Error);
  remainder.erase(0, static_cast<std::size_t>(sent.Value));
  return true;
}

}  // namespace

struct TunnelRelay::TunnelLink {
  enum class Stage {
    LookingUp,   // a resolver thread is finding the server's address
    Connecting,  // the server's connect is in progress
    Relaying,
  };
  std::uint64_t Id = 0;
  Stage State = Stage::Relaying;
  platform::UniqueFd Client;
  platform::UniqueFd Server;
  std::string Target;  // "server:port" of a tunnel, for log lines
  std::uint16_t Port = 0;
  // Bytes read from one side that the other has not taken yet. While one is not empty, its
  // source is not read, so a slow receiver holds back its sender and nothing else.
  std::string ToServer;
  std::string ToClient;
  // A side that has ended its sending: its end is passed on once what it sent has gone, and
  // the other direction keeps going until it ends too.
  bool ClientDone = false;
  bool ServerDone = false;
  bool ToServerShut = false;  // the server has been told the client's end
  bool ToClientShut = false;
  bool Ended = false;  // its sockets close when the relay next drops ended links
};

TunnelRelay::TunnelRelay(const platform::ExitEvent& exitEvent, std::function<void()> resetIdleTimer,
                         std::function<void(std::string_view)> logEvent)
    : exitEvent_(exitEvent),
      resetIdleTimer_(std::move(resetIdleTimer)),
      logEvent_(std::move(logEvent)),
      readBuffer_(kReadSize) {}

TunnelRelay::~TunnelRelay() = default;

void TunnelRelay::AddLink(platform::UniqueFd client, platform::UniqueFd server) {
  auto link = std::make_unique<TunnelLink>();
  link->Client = std::move(client);
  link->Server = std::move(server);
  Append(std::move(link), std::nullopt);
}

void TunnelRelay::AddTunnel(platform::UniqueFd client, std::string server, std::uint16_t port) {
  auto link = std::make_unique<TunnelLink>();
  link->Client = std::move(client);
  link->Target = server + ":" + std::to_string(port);
  link->Port = port;
  if (server.empty()) {
    LogFailure(*link, "no server name");
    return;
  }
  if (const std::optional<in_addr> address = platform::ParseIPv4(server)) {
    int error = 0;
    link->Server = platform::StartConnect(*address, port, error);
    if (!link->Server.Valid()) {
      LogFailure(*link, ErrnoText(error));
      return;
    }
    link->State = TunnelLink::Stage::Connecting;
    Append(std::move(link), std::nullopt);
    return;
  }
  link->State = TunnelLink::Stage::LookingUp;
  Append(std::move(link), std::move(server));
}

std::size_t TunnelRelay::LinkCount() const {
  std::lock_guard lock(TunnelLock);
  return TunnelLinks.size();
}

void TunnelRelay::Append(std::unique_ptr<TunnelLink> link, std::optional<std::string> lookUpHost) {
  if (!link->Client.Valid() || !wake_.Valid()) return;
  if (link->State != TunnelLink::Stage::LookingUp && !link->Server.Valid()) return;
  {
    std::lock_guard lock(TunnelLock);
    if (stopped_) return;
    link->Id = nextLinkId_++;
    // Started under the lock, so its result cannot be taken before the link is listed.
    if (lookUpHost) nameLookups_.Start(link->Id, std::move(*lookUpHost));
    TunnelLinks.push_back(std::move(link));
  }
  wake_.Wake();
}

void TunnelRelay::Run() {
  std::vector<TunnelLink*> links;
  std::vector<pollfd> entries;
  for (;;) {
    std::vector<std::pair<std::uint64_t, platform::Resolution>> lookUps;
    {
      std::lock_guard lock(TunnelLock);
      std::erase_if(TunnelLinks, [](const auto& link) { return link->Ended; });
      links.clear();
      for (const auto& link : TunnelLinks) links.push_back(link.get());
      lookUps = nameLookups_.Take();
    }
    bool anyEnded = false;
    for (const auto& [linkId, result] : lookUps) {
      for (TunnelLink* link : links) {
        if (link->Id != linkId) continue;
        ApplyLookUp(*link, result);
        anyEnded = anyEnded || link->Ended;
      }
    }
    if (anyEnded) continue;  // close those at once rather than after the next wake-up

    entries.assign(kFirstLinkEntry + 2 * links.size(), pollfd{-1, 0, 0});
    entries[0] = {exitEvent_.Fd(), POLLIN, 0};
    entries[1] = {wake_.Fd(), POLLIN, 0};
    entries[2] = {nameLookups_.Fd(), POLLIN, 0};
    for (std::size_t i = 0; i < links.size(); ++i) {
      const TunnelLink& link = *links[i];
      pollfd& client = entries[kFirstLinkEntry + 2 * i];
      pollfd& server = entries[kFirstLinkEntry + 1 + 2 * i];
      client.fd = link.Client.Get();
      if (link.State == TunnelLink::Stage::Relaying) {
        client.events =
            static_cast<short>((link.ToServer.empty() && !link.ClientDone ? POLLIN : 0) |
                               (link.ToClient.empty() ? 0 : POLLOUT));
        server.fd = link.Server.Get();
        server.events =
            static_cast<short>((link.ToClient.empty() && !link.ServerDone ? POLLIN : 0) |
                               (link.ToServer.empty() ? 0 : POLLOUT));
        // A side whose reading waits for the other to drain, or that is through both ways,
        // is left out: a hang-up it may show would wake every poll. One that has only ended
        // its sending stays in, so that its going away altogether is seen.
        if (client.events == 0 && (!link.ClientDone || link.ToClientShut)) client.fd = -1;
        if (server.events == 0 && (!link.ServerDone || link.ToServerShut)) server.fd = -1;
      } else {
        // Not read before the server is there. A client that has already ended its sending
        // may still want the answer, so only a failed client (shown whatever the events)
        // ends the link now.
        client.events = 0;
        if (link.State == TunnelLink::Stage::Connecting) {
          server.fd = link.Server.Get();
          server.events = POLLOUT;
        }
      }
    }
    if (const platform::SysResult polled = platform::Poll(entries, -1); !polled.Ok()) {
      if (polled.Error == EINTR) continue;
      if (logEvent_) logEvent_("Tunnel relay stopped: " + ErrnoText(polled.Error));
      break;
    }
    if (entries[0].revents != 0) break;
    if (entries[1].revents != 0) wake_.Clear();
    for (std::size_t i = 0; i < links.size(); ++i) {
      const short clientEvents = entries[kFirstLinkEntry + 2 * i].revents;
      const short serverEvents = entries[kFirstLinkEntry + 1 + 2 * i].revents;
      if (clientEvents != 0 || serverEvents != 0) Serve(*links[i], clientEvents, serverEvents);
    }
  }

  std::lock_guard lock(TunnelLock);
  stopped_ = true;
  TunnelLinks.clear();
}

void TunnelRelay::ApplyLookUp(TunnelLink& link, const platform::Resolution& result) {
  if (link.Ended || link.State != TunnelLink::Stage::LookingUp) return;
  if (!result.Address) {
    LogFailure(link, ::gai_strerror(result.Error));
    Finish(link);
    return;
  }
  int error = 0;
  link.Server = platform::StartConnect(*result.Address, link.Port, error);
  if (!link.Server.Valid()) {
    LogFailure(link, ErrnoText(error));
    Finish(link);
    return;
  }
  link.State = TunnelLink::Stage::Connecting;
}

void TunnelRelay::Serve(TunnelLink& link, short clientEvents, short serverEvents) {
  switch (link.State) {
    case TunnelLink::Stage::LookingUp:
      if (clientEvents != 0) Finish(link);
      return;
    case TunnelLink::Stage::Connecting:
      if (clientEvents != 0) {
        Finish(link);
      } else if (serverEvents != 0) {
        const int error = platform::PendingConnectError(link.Server.Get());
        if (error == 0) {
          link.State = TunnelLink::Stage::Relaying;
        } else {
          LogFailure(link, ErrnoText(error));
          Finish(link);
        }
      }
      return;
    case TunnelLink::Stage::Relaying:
      ServeRelaying(link, clientEvents, serverEvents);
      return;
  }
}

void TunnelRelay::ServeRelaying(TunnelLink& link, short clientEvents, short serverEvents) {
  if ((clientEvents | serverEvents) & (POLLERR | POLLNVAL)) return Finish(link);
  const int client = link.Client.Get();
  const int server = link.Server.Get();
  // Room first: a remainder that drains lets its source be read again in the next round.
  if (!link.ToServer.empty() && (serverEvents & (POLLOUT | kFailure)) &&
      !SendSome(server, link.ToServer)) {
    return Finish(link);
  }
  if (!link.ToClient.empty() && (clientEvents & (POLLOUT | kFailure)) &&
      !SendSome(client, link.ToClient)) {
    return Finish(link);
  }
  // A hang-up is read like data, so that what came before it is still relayed. On a side
  // that has already ended its sending, it means the peer has gone altogether.
  if (clientEvents & (POLLIN | POLLHUP)) {
    if (link.ClientDone) return Finish(link);
    if (link.ToServer.empty() && !Forward(client, server, link.ToServer, link.ClientDone)) {
      return Finish(link);
    }
  }
  if (serverEvents & (POLLIN | POLLHUP)) {
    if (link.ServerDone) return Finish(link);
    if (link.ToClient.empty() && !Forward(server, client, link.ToClient, link.ServerDone)) {
      return Finish(link);
    }
  }
  PassOnEnds(link);
}

void TunnelRelay::PassOnEnds(TunnelLink& link) {
  const bool clientEnded = link.ClientDone && link.ToServer.empty();
  const bool serverEnded = link.ServerDone && link.ToClient.empty();
  if (clientEnded && serverEnded) {
    link.Ended = true;  // closing the sockets passes on whatever end is still to pass
    return;
  }
  if (clientEnded && !link.ToServerShut) {
    platform::ShutdownSending(link.Server.Get());
    link.ToServerShut = true;
  }
  if (serverEnded && !link.ToClientShut) {
    platform::ShutdownSending(link.Client.Get());
    link.ToClientShut = true;
  }
}

bool TunnelRelay::Forward(int from, int to, std::string& remainder, bool& sourceDone) {
  const platform::SysResult received = platform::ReceiveSome(from, readBuffer_);
  if (!received.Ok()) return Transient(received.Error);
  if (received.Value == 0) {
    sourceDone = true;
    return true;
  }
  if (resetIdleTimer_) resetIdleTimer_();
  const std::span<const char> block(readBuffer_.data(), static_cast<std::size_t>(received.Value));
  const platform::SysResult sent = platform::SendSome(to, block);
  if (!sent.Ok() && !Transient(sent.Error)) return false;
  remainder.assign(block.begin() + (sent.Ok() ? sent.Value : 0), block.end());
  return true;
}

void TunnelRelay::Finish(TunnelLink& link) {
  if (link.State == TunnelLink::Stage::Relaying) {
    // One non-blocking try for what was already read; a peer without room loses it.
    if (!link.ToServer.empty()) SendSome(link.Server.Get(), link.ToServer);
    if (!link.ToClient.empty()) SendSome(link.Client.Get(), link.ToClient);
  }
  link.Ended = true;
}

void TunnelRelay::LogFailure(const TunnelLink& link, const std::string& reason) {
  if (logEvent_) logEvent_("Tunnel to " + link.Target + " failed: " + reason);
}

}  // namespace tenvar::service
