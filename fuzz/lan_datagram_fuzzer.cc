// Datagrams arriving at the LAN registry's port, through ParseRegistration.
#include <cstddef>
#include <cstdint>
#include <span>

#include "fuzz/fuzz_input.h"
#include "service/lan_registry.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const char> datagram(reinterpret_cast<const char*>(data), size);
  const std::optional<tenvar::service::LanClient> client =
      tenvar::service::ParseRegistration(datagram);
  if (client) {
    tenvar::fuzz::Require(size >= 1 && size <= 96 && datagram[0] == '+',
                          "only a \"+\" datagram of at most 96 bytes registers");
    tenvar::fuzz::Require(client->MachineName.size() <= 62 && client->UserName.size() <= 32,
                          "names stay inside their fields");
    tenvar::fuzz::Require(client->IpAddress.empty(), "the address comes from the socket");
  }
  return 0;
}
