#include "service/listener.h"

#include <poll.h>

#include <cerrno>

#include "http/session_pipeline.h"
#include "platform/socket.h"
#include "service/lan_address.h"

namespace tenvar::service {
namespace {

// Connections from outside the LAN are closed at once: the proxy must never be an open door.
bool AcceptedFromLan(const http::SessionContext& context,
                     const platform::AcceptedConnection& peer) {
  if (IsLanAddress(peer.Peer)) return true;
  context.LogEvent("Refused connection from " + platform::FormatAddress(peer.Peer));
  return false;
}

platform::UniqueFd OpenPort(std::int32_t port) {
  if (port <= 0 || port > 65535) return platform::UniqueFd();  // 0: no listener wanted
  int error = 0;
  return platform::OpenTcpListener(static_cast<std::uint16_t>(port), error);
}

}  // namespace

Listener::Listener(http::SessionContext& context, SessionThreads& sessions, TunnelRelay& relay)
    : context_(context), sessions_(sessions), relay_(relay) {}

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

void Listener::Run() {
  std::vector<pollfd> entries;
  for (const HttpPort& port : httpPorts_) entries.push_back({port.ListenSocket.Get(), POLLIN, 0});
  for (const TunnelPort& port : tunnelPorts_) {
    entries.push_back({port.ListenSocket.Get(), POLLIN, 0});
  }
  entries.push_back({context_.Exit.Fd(), POLLIN, 0});

  while (!context_.Exit.IsSignalled()) {
    if (::poll(entries.data(), entries.size(), -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    for (size_t i = 0; i < httpPorts_.size(); ++i) {
      if (entries[i].revents != 0) AcceptHttp(httpPorts_[i]);
    }
    for (size_t i = 0; i < tunnelPorts_.size(); ++i) {
      if (entries[httpPorts_.size() + i].revents != 0) AcceptTunnel(tunnelPorts_[i]);
    }
  }
}

void Listener::AcceptHttp(HttpPort& port) {
  // Take every pending connection: a burst is not served one per round.
  while (std::optional<platform::AcceptedConnection> accepted =
             platform::AcceptConnection(port.ListenSocket.Get())) {
    if (!AcceptedFromLan(context_, *accepted)) continue;
    auto session = std::make_shared<http::HttpSession>();
    session->Config = port.Config;
    session->ClientAddress = platform::FormatAddress(accepted->Peer);
    session->BrowserSocket = std::move(accepted->Fd);
    sessions_.Start([this, session] { http::RunHttpSession(context_, std::move(*session)); });
  }
}

void Listener::AcceptTunnel(TunnelPort& port) {
  while (std::optional<platform::AcceptedConnection> accepted =
             platform::AcceptConnection(port.ListenSocket.Get())) {
    if (!AcceptedFromLan(context_, *accepted)) continue;
    if (port.Tunnel.Port <= 0 || port.Tunnel.Port > 65535) continue;
    relay_.AddTunnel(std::move(accepted->Fd), port.Tunnel.Server,
                     static_cast<std::uint16_t>(port.Tunnel.Port));
  }
}

}  // namespace tenvar::service
