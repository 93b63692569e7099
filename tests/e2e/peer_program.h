// The programs the end-to-end tests talk to (nginx, squid, openssl, curl): finding them,
// starting one and waiting until it listens, and skipping a test whose program is missing.
// Stateless; safe from any thread.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "platform/child_process.h"

namespace tenvar::e2e {

// The full path of `name` from PATH or the sbin directories (daemons live there and a
// non-root PATH may lack them); empty when it is not installed.
std::string FindProgram(const std::string& name);

// Starts a peer in the foreground (argv[0] is looked up with FindProgram) and waits until
// `readyFile` contains `readyText`, which the peer writes once it listens. On failure
// `error` says why, with the peer's standard error, and the peer is gone; on success it is
// in `peer`.
bool StartPeer(std::vector<std::string> argv, const platform::ChildOptions& options,
               const std::string& readyFile, const std::string& readyText,
               std::chrono::milliseconds timeout, std::optional<platform::ChildProcess>& peer,
               std::string& error);

}  // namespace tenvar::e2e

// Ends the current test as skipped when `program` is not installed.
#define TENVAR_REQUIRE_PROGRAM(program)                                                   \
  do {                                                                                    \
    if (::tenvar::e2e::FindProgram(program).empty()) {                                    \
      GTEST_SKIP() << (program) << " is not installed; scripts/install-deps installs it"; \
    }                                                                                     \
  } while (false)
