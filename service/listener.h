// The listening sockets of every HTTP proxy instance and every IP tunnel, served by one
// thread: each accepted HTTP connection gets a session thread of its own, each tunnel
// connection is handed to the tunnel relay. Only machines of the LAN are served.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "config/http_proxy_config.h"
#include "config/ip_tunnel_config.h"
#include "http/session_context.h"
#include "platform/unique_fd.h"
#include "service/session_threads.h"
#include "service/tunnel_relay.h"

namespace tenvar::service {

class Listener {
 public:
  Listener(http::SessionContext& context, SessionThreads& sessions, TunnelRelay& relay);

  // Opens the sockets of the instances and tunnels configured now, logging each that
  // listens. Records a later re-read adds take effect at the next start.
  void Open();

  // Accepts until the exit event is signalled.
  void Run();

 private:
  struct HttpPort {
    std::shared_ptr<config::HttpProxyConfig> Config;
    platform::UniqueFd ListenSocket;
  };
  struct TunnelPort {
    config::IpTunnelConfig Tunnel;
    platform::UniqueFd ListenSocket;
  };

  void AcceptHttp(HttpPort& port);
  void AcceptTunnel(TunnelPort& port);

  http::SessionContext& context_;
  SessionThreads& sessions_;
  TunnelRelay& relay_;
  std::vector<HttpPort> httpPorts_;
  std::vector<TunnelPort> tunnelPorts_;
};

}  // namespace tenvar::service
