// Complete sends on non-blocking sockets: a send that finds the peer's window full waits in
// poll() for room or for the exit event, never in a sleep. Safe from any thread; one thread
// sends on a given socket at a time.
#pragma once

#include <chrono>
#include <cstddef>
#include <string_view>

#include "platform/exit_event.h"

namespace tenvar::platform {

// 0 when every byte was sent, -1 otherwise: the exit event was signalled (before or during
// the send) or the socket failed. The socket is left open either way. Nothing to send is a
// success, unless the exit event is already signalled.
int SendBuffer(int fd, const char* data, std::size_t length, const ExitEvent& exitEvent);
int SendString(int fd, std::string_view text, const ExitEvent& exitEvent);

// Like SendString, but gives up (false) once the peer has taken nothing for `stallLimit`: a
// peer that stops reading must not hold its sender for ever.
bool SendWithin(int fd, std::string_view bytes, const ExitEvent& exitEvent,
                std::chrono::milliseconds stallLimit);

}  // namespace tenvar::platform
