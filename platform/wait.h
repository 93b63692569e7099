// One descriptor waited on in poll() together with the exit event, until a deadline: the
// shape of every wait a session makes on its browser or its server. No policy of its own.
#pragma once

#include <poll.h>

#include <chrono>
#include <span>

#include "platform/exit_event.h"
#include "platform/sys_result.h"

namespace tenvar::platform {

enum class WaitResult { Ready, TimedOut, Exit };

using Deadline = std::chrono::steady_clock::time_point;
inline constexpr Deadline kNoDeadline = Deadline::max();

// Ready when `fd` reports any of `events` (or an error or hang-up, which the next call on
// it reports); Exit as soon as the exit event is signalled, also when it already was.
WaitResult WaitFor(int fd, short events, const ExitEvent& exitEvent, Deadline deadline);

// The same without an exit event, for waits too short to need one; Exit only when poll()
// itself fails.
WaitResult WaitFor(int fd, short events, Deadline deadline);

// For loops that serve many descriptors: one poll(), the number of entries with events (0
// when `timeoutMs`, -1 for none, passed first). EINTR comes back as an error, so that the
// caller can work out what is left of its own time.
SysResult Poll(std::span<pollfd> entries, int timeoutMs);

}  // namespace tenvar::platform
