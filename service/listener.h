// The listening sockets of every HTTP proxy instance and every IP tunnel, served by one
// thread. An accepted browser waits here, in one epoll set and holding no thread, until its
// request header block has arrived; only then does its session take a thread. Tunnel
// connections go straight to the tunnel relay. Only machines of the LAN are served.
#pragma once

#include <chrono>
#include <cstdint>
#include <list>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "config/http_proxy_config.h"
#include "config/ip_tunnel_config.h"
#include "http/session_context.h"
#include "platform/epoll.h"
#include "platform/socket.h"
#include "platform/unique_fd.h"
#include "service/refusal_log.h"
#include "service/session_threads.h"
#include "service/tunnel_relay.h"

namespace tenvar::service {

class Listener {
 public:
  // When accept runs out of descriptors, listening stops for this long: the connections
  // stay queued, and trying again at once would only fail again.
  static constexpr std::chrono::milliseconds kAcceptBackOff{100};

  Listener(http::SessionContext& context, SessionThreads& sessions, TunnelRelay& relay);

  // Opens the sockets of the instances and tunnels configured now, logging each that
  // listens. Records a later re-read adds take effect at the next start.
  void Open();

  // Accepts until the exit event is signalled; browsers still sending their header block
  // then are closed.
  void Run();

 private:
  using Clock = std::chrono::steady_clock;

  struct HttpPort {
    std::shared_ptr<config::HttpProxyConfig> Config;
    platform::UniqueFd ListenSocket;
  };
  struct TunnelPort {
    config::IpTunnelConfig Tunnel;
    platform::UniqueFd ListenSocket;
  };
  // A browser whose header block is still coming.
  struct WaitingBrowser {
    std::shared_ptr<config::HttpProxyConfig> Config;
    platform::UniqueFd Socket;
    std::string ClientAddress;
    std::string Request;
    std::uint64_t Id = 0;
    Clock::time_point Deadline;
  };
  enum class Arrival { Complete, Incomplete, Gone };

  bool RegisterPorts();
  void SetAccepting(bool accepting);
  // The next pending connection from a LAN machine (others are refused and logged);
  // nothing when none is left, with `outOfDescriptors` telling whether accept ran out.
  std::optional<platform::AcceptedConnection> NextFromLan(int listenFd, bool& outOfDescriptors);
  // False when accepting ran out of descriptors.
  bool AcceptHttp(HttpPort& port);
  bool AcceptTunnel(TunnelPort& port);
  static Arrival ReadAvailable(WaitingBrowser& browser);
  void Wait(WaitingBrowser browser);
  void Read(std::uint64_t id);
  void StartSession(WaitingBrowser browser);
  void DropLate(Clock::time_point now);
  std::chrono::milliseconds Timeout(Clock::time_point now) const;

  http::SessionContext& context_;
  SessionThreads& sessions_;
  TunnelRelay& relay_;
  RefusalLog refusals_;
  std::vector<HttpPort> httpPorts_;
  std::vector<TunnelPort> tunnelPorts_;

  platform::EpollSet epoll_;
  bool accepting_ = true;
  bool descriptorsShort_ = false;  // an out-of-descriptors episode has been logged
  Clock::time_point resumeAt_;
  // The waiting browsers in the order they came, which is also the order of their
  // deadlines, and where to find each by its id.
  std::list<WaitingBrowser> waiting_;
  std::unordered_map<std::uint64_t, std::list<WaitingBrowser>::iterator> waitingById_;
  std::uint64_t nextId_;
};

}  // namespace tenvar::service
