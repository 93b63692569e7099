// Start-up and shut-down of the main program: from the command line to a running set of
// services, and back when SIGINT or SIGTERM arrives.
#pragma once

#include <string>
#include <vector>

#include "service/user_interface.h"

namespace tenvar::service {

// Runs the program; returns its exit status. With a screen in `options`, messages, the dial-up
// state and the event log also reach it; the services stay the same.
int RunTenvar(const std::vector<std::string>& arguments, const StartOptions& options = {});

}  // namespace tenvar::service
