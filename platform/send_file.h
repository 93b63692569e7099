// Sending part of a file to a socket with sendfile(), so the bytes go from the page cache to
// the socket without passing through the sender's memory. For non-blocking sockets: a send
// that finds no room waits in poll() for room or for the exit event, never in a sleep.
#pragma once

#include <chrono>
#include <cstdint>

#include "platform/exit_event.h"

namespace tenvar::platform {

enum class FileSendResult { Sent, Stalled, FileEnded, Failed, Exit };

// Sends `length` bytes of `file` from `offset` to the socket `fd`. Stalled when the peer has
// taken nothing for `stallLimit`; FileEnded when the file holds fewer bytes than asked for;
// Failed when either descriptor fails. The descriptors are left open whatever the result.
FileSendResult SendFileWithin(int fd, int file, std::uint64_t offset, std::uint64_t length,
                              const ExitEvent& exitEvent, std::chrono::milliseconds stallLimit);

}  // namespace tenvar::platform
