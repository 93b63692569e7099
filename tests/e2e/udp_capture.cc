#include "tests/e2e/udp_capture.h"

#include <arpa/inet.h>
#include <netinet/ip.h>
#include <netinet/udp.h>
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>

namespace tenvar::e2e {
namespace {

std::string Dotted(in_addr address) {
  char text[INET_ADDRSTRLEN] = {};
  ::inet_ntop(AF_INET, &address, text, sizeof text);
  return text;
}

bool Parse(const char* packet, size_t size, CapturedDatagram& datagram) {
  if (size < sizeof(iphdr)) return false;
  iphdr ip;
  std::memcpy(&ip, packet, sizeof ip);
  const size_t headerSize = static_cast<size_t>(ip.ihl) * 4;
  if (size < headerSize + sizeof(udphdr)) return false;
  udphdr udp;
  std::memcpy(&udp, packet + headerSize, sizeof udp);
  datagram.Source = Dotted(in_addr{ip.saddr});
  datagram.Destination = Dotted(in_addr{ip.daddr});
  datagram.SourcePort = ntohs(udp.source);
  datagram.DestinationPort = ntohs(udp.dest);
  datagram.Payload.assign(packet + headerSize + sizeof udp, size - headerSize - sizeof udp);
  return true;
}

}  // namespace

UdpCapture::UdpCapture() : fd_(::socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_UDP)) {}

bool UdpCapture::WaitFor(std::string_view destination, std::uint16_t port,
                         std::string_view payloadPrefix, std::chrono::milliseconds timeout,
                         CapturedDatagram* found) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    pollfd entry{fd_.Get(), POLLIN, 0};
    const int ready = ::poll(&entry, 1, static_cast<int>(left.count()));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) return false;
    char packet[65536];
    const ssize_t got = ::recv(fd_.Get(), packet, sizeof packet, 0);
    if (got <= 0) continue;
    CapturedDatagram datagram;
    if (!Parse(packet, static_cast<size_t>(got), datagram)) continue;
    if (datagram.Destination != destination || datagram.DestinationPort != port ||
        !datagram.Payload.starts_with(payloadPrefix)) {
      continue;
    }
    if (found != nullptr) *found = datagram;
    return true;
  }
}

}  // namespace tenvar::e2e
