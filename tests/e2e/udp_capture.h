// Sees every UDP datagram delivered in the test's network namespace through a raw socket,
// including those addressed to a port another process holds (the LAN registry answers to
// port 1403, which the registry itself owns). Needs root in the namespace, as netns-run
// gives; one thread at a time.
#pragma once

#include <arpa/inet.h>
#include <netinet/ip.h>
#include <netinet/udp.h>
#include <sys/socket.h>

#include <chrono>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

#include "platform/unique_fd.h"
#include "tests/support/loopback.h"

namespace tenvar::e2e {

class UdpCapture {
 public:
  bool Valid() const { return fd_.Valid(); }

  // The payload of the first datagram to `destination`:`port` that starts with `prefix`;
  // datagrams before it are passed over. Nothing after `timeout`.
  std::optional<std::string> WaitFor(const char* destination, std::uint16_t port,
                                     std::string_view prefix, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    in_addr wanted{};
    ::inet_pton(AF_INET, destination, &wanted);
    for (;;) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0 || !test::WaitReadable(fd_.Get(), left)) return std::nullopt;
      char packet[65536];
      const ssize_t got = ::recv(fd_.Get(), packet, sizeof packet, 0);
      iphdr ip;
      if (got < static_cast<ssize_t>(sizeof ip)) continue;
      std::memcpy(&ip, packet, sizeof ip);
      const size_t headerSize = ip.ihl * 4u;
      udphdr udp;
      if (static_cast<size_t>(got) < headerSize + sizeof udp) continue;
      std::memcpy(&udp, packet + headerSize, sizeof udp);
      std::string payload(packet + headerSize + sizeof udp, got - headerSize - sizeof udp);
      if (ip.daddr == wanted.s_addr && ntohs(udp.dest) == port && payload.starts_with(prefix)) {
        return payload;
      }
    }
  }

 private:
  platform::UniqueFd fd_{::socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_UDP)};
};

}  // namespace tenvar::e2e
