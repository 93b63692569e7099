#include "service/lan_address.h"

#include <arpa/inet.h>

#include <cstdint>

namespace tenvar::service {
namespace {

struct AddressRange {
  std::uint32_t Network;  // host order
  int PrefixLength;
};

constexpr AddressRange kLanRanges[] = {
    {0x7F000000u, 8},   // 127.0.0.0/8
    {0x0A000000u, 8},   // 10.0.0.0/8
    {0xAC100000u, 12},  // 172.16.0.0/12
    {0xC0A80000u, 16},  // 192.168.0.0/16
    {0xA9FE0000u, 16},  // 169.254.0.0/16
};

}  // namespace

bool IsLanAddress(in_addr address) {
  const std::uint32_t value = ntohl(address.s_addr);
  for (const AddressRange& range : kLanRanges) {
    const std::uint32_t mask = ~std::uint32_t{0} << (32 - range.PrefixLength);
    if ((value & mask) == range.Network) return true;
  }
  return false;
}

}  // namespace tenvar::service
