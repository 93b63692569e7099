// Sees every UDP datagram delivered in the test's network namespace through a raw socket,
// including those addressed to a port another process holds (the LAN registry answers to
// port 1403, which the registry itself owns). Needs root in the namespace, as netns-run
// gives; one thread at a time.
#pragma once

#include <netinet/in.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/unique_fd.h"

namespace tenvar::e2e {

struct CapturedDatagram {
  std::string Source;       // dotted address
  std::string Destination;  // dotted address
  std::uint16_t SourcePort = 0;
  std::uint16_t DestinationPort = 0;
  std::string Payload;
};

class UdpCapture {
 public:
  UdpCapture();  // Valid() is false when no raw socket could be opened

  bool Valid() const { return fd_.Valid(); }

  // Waits for a datagram to `destination`:`port` whose payload starts with `payloadPrefix`;
  // datagrams before it are passed over. Nothing after `timeout`.
  bool WaitFor(std::string_view destination, std::uint16_t port, std::string_view payloadPrefix,
               std::chrono::milliseconds timeout, CapturedDatagram* found = nullptr);

 private:
  platform::UniqueFd fd_;
};

}  // namespace tenvar::e2e
