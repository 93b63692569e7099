// Which source addresses count as the office's own machines: loopback, the private ranges
// and link-local addresses. A pure function; safe from any thread.
#pragma once

#include <netinet/in.h>

namespace tenvar::service {

// True for 127/8, 10/8, 172.16/12, 192.168/16 and 169.254/16.
bool IsLanAddress(in_addr address);

}  // namespace tenvar::service
