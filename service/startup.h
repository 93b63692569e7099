// Start-up and shut-down of the main program: from the command line to a running set of
// services, and back when SIGINT or SIGTERM arrives.
#pragma once

#include <string>
#include <vector>

namespace tenvar::service {

// Runs the program; returns its exit status.
int RunTenvar(const std::vector<std::string>& arguments);

}  // namespace tenvar::service
