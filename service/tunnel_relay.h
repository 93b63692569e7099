// The relay behind the IP tunnels and HTTP CONNECT: one thread copies the bytes of every
// relayed connection pair ("tunnel link") both ways, unchanged and in order. A side that ends
// its sending has its end passed on, and the other direction goes on to its own end, so
// request/answer protocols whose client half-closes get their whole answer. Thread-safety: AddLink,
// AddTunnel and LinkCount may be called from any thread while Run() serves the links on its own
// thread; the callbacks are called from both.
#pragma once

#include <netinet/in.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "platform/exit_event.h"
#include "platform/name_lookups.h"
#include "platform/socket.h"
#include "platform/unique_fd.h"
#include "platform/wake_event.h"

namespace tenvar::service {

class TunnelRelay {
 public:
  // resetIdleTimer is called for every successful read; logEvent gets one line per failed
  // tunnel. Both must be callable from any thread.
  TunnelRelay(const platform::ExitEvent& exitEvent, std::function<void()> resetIdleTimer,
              std::function<void(std::string_view)> logEvent);
  TunnelRelay(const TunnelRelay&) = delete;
  TunnelRelay& operator=(const TunnelRelay&) = delete;
  ~TunnelRelay();  // returns at once: name look-ups still out need no waiting for

  // Relays between two connected sockets.
  void AddLink(platform::UniqueFd client, platform::UniqueFd server);

  // Relays between an accepted client and `server`:`port`, which is connected (and, for a
  // name, looked up on a thread of its own) without holding up the caller or the relay. The
  // client is closed when the server cannot be reached.
  void AddTunnel(platform::UniqueFd client, std::string server, std::uint16_t port);

  // The relay thread's body: returns once the exit event is signalled, closing every link.
  void Run();

  // Links not yet ended, counting those still looking up or connecting their server.
  std::size_t LinkCount() const;

 private:
  struct TunnelLink;

  // Hands a link to the relay; with `lookUpHost`, a thread looks the server's name up first.
  void Append(std::unique_ptr<TunnelLink> link, std::optional<std::string> lookUpHost);
  void ApplyLookUp(TunnelLink& link, const platform::Resolution& result);
  void Serve(TunnelLink& link, short clientEvents, short serverEvents);
  void ServeRelaying(TunnelLink& link, short clientEvents, short serverEvents);
  bool Forward(int from, int to, std::string& remainder, bool& sourceDone);
  void PassOnEnds(TunnelLink& link);
  void Finish(TunnelLink& link);
  void LogFailure(const TunnelLink& link, const std::string& reason);

  const platform::ExitEvent& exitEvent_;
  std::function<void()> resetIdleTimer_;
  std::function<void(std::string_view)> logEvent_;
  platform::WakeEvent wake_;           // readable while producers have news for the relay
  platform::NameLookups nameLookups_;  // started by producers, taken by the relay thread
  std::vector<char> readBuffer_;       // used by the relay thread only

  // Guards TunnelLinks, nextLinkId_ and stopped_. Producers append links under it (and start
  // their look-ups there); only the relay thread removes links or touches their sockets and
  // buffers, so it does its I/O without the lock and takes it to see new links, to take
  // look-up results and to drop ended ones (whose sockets close there, before LinkCount can
  // see the new count).
  mutable std::mutex TunnelLock;
  std::vector<std::unique_ptr<TunnelLink>> TunnelLinks;
  std::uint64_t nextLinkId_ = 1;
  bool stopped_ = false;  // Run() has returned: later links are closed at once
};

}  // namespace tenvar::service
