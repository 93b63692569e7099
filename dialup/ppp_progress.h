// How the lines pppd (and the chat or PPPoE messages it passes on) prints while it dials read
// as dial progress. Pure functions of one line: thread-safe.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "dialup/dial_progress.h"

namespace tenvar::dialup {

// The step a line reports; nothing for lines that say nothing about the dial's progress. The
// line that gives our IP address is the one that reports the connection (Connected).
std::optional<DialStep> PppProgressStep(std::string_view line);

// True for the line pppd prints once the link is up: "local  IP address ...".
bool IsPppConnectedLine(std::string_view line);

// The network interface of the dial, from "Using interface ppp0"; nothing for other lines.
std::optional<std::string> PppInterfaceName(std::string_view line);

}  // namespace tenvar::dialup
