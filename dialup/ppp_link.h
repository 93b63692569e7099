// Whether a ppp network interface of this machine is up, read from the kernel's interface
// folder (/sys/class/net, or another folder in tests). Reads files only: thread-safe.
#pragma once

#include <string>
#include <string_view>

namespace tenvar::dialup {

// True when the interface folder (one entry of /sys/class/net) describes an interface that is
// administratively up and not reported down. ppp interfaces mostly report "unknown" as their
// operational state, so the IFF_UP flag decides.
bool InterfaceIsUp(const std::string& interfaceDirectory);

// True when any interface named ppp* other than `ignoredInterface` is up.
bool AnyPppLinkUp(const std::string& netClassDirectory, std::string_view ignoredInterface = {});

}  // namespace tenvar::dialup
