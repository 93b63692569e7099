// The registry of LAN machines on UDP port 1403: a machine sends "+" with its names to
// register (and is answered "OK") and "-" to leave; "!" is the abuse alert broadcast to them.
// Run() serves the socket on its own thread; Find and Clients may be called from any thread.
#pragma once

#include <netinet/in.h>

#include <cstdint>
#include <functional>
#include <list>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/exit_event.h"
#include "platform/unique_fd.h"
#include "service/refusal_log.h"

namespace tenvar::service {

constexpr std::uint16_t kLanRegistryPort = 1403;

struct LanClient {
  bool Starred = false;
  std::string UserName;
  std::string MachineName;
  std::string IpAddress;  // dotted, the source of the registration

  bool operator==(const LanClient&) const = default;
};

// The names of a "+" datagram: an optional "*" at byte 1, the machine name from there to a
// NUL (never past byte 62), the user name from byte 64 to a NUL or the end. Nothing for any
// other datagram or one over 96 bytes. IpAddress is left empty.
std::optional<LanClient> ParseRegistration(std::span<const char> datagram);

class LanRegistry {
 public:
  // Machines remembered at once; a registration past this drops the oldest machine.
  static constexpr std::size_t kMaxClients = 4096;

  // Answers go to the registering machine at `replyPort`; 0 means the registry's own port.
  LanRegistry(const platform::ExitEvent& exitEvent,
              std::function<void(std::string_view)> logEvent,
              std::uint16_t port = kLanRegistryPort, std::uint16_t replyPort = 0);

  // Binds the UDP socket (with SO_BROADCAST); false when it cannot.
  bool Open();
  std::uint16_t Port() const;  // the bound port, 0 before Open()

  // The thread body: serves registrations until the exit event is signalled.
  void Run();

  std::optional<LanClient> Find(const std::string& ipAddress) const;
  std::vector<LanClient> Clients() const;  // in order of first registration

 private:
  void Handle(std::span<const char> datagram, in_addr source);

  const platform::ExitEvent& exitEvent_;
  std::function<void(std::string_view)> logEvent_;
  RefusalLog refusals_;
  std::uint16_t port_;
  std::uint16_t replyPort_;
  platform::UniqueFd socket_;

  // Guards LanClients and clientsByAddress_: the registry thread changes them, any thread
  // may read them.
  mutable std::mutex LanClientLock;
  std::list<LanClient> LanClients;  // one entry per address, oldest registration first
  std::unordered_map<std::string, std::list<LanClient>::iterator> clientsByAddress_;
};

// Sends the one-byte alert "!" from a broadcast-enabled UDP socket, retrying (at most 100
// tries, 1 ms apart at most) until a send takes it; false when it never went.
bool SendAbuseAlert(std::uint16_t port = kLanRegistryPort,
                    const char* address = "255.255.255.255");

}  // namespace tenvar::service
