// One descriptor waited on in poll() together with the exit event, until a deadline: the
// shape of every wait a session makes on its browser or its server. No policy of its own.
#pragma once

#include <chrono>

#include "platform/exit_event.h"

namespace tenvar::platform {

enum class WaitResult { Ready, TimedOut, Exit };

using Deadline = std::chrono::steady_clock::time_point;

// Ready when `fd` reports any of `events` (or an error or hang-up, which the next call on
// it reports); Exit as soon as the exit event is signalled, also when it already was.
WaitResult WaitFor(int fd, short events, const ExitEvent& exitEvent, Deadline deadline);

}  // namespace tenvar::platform
