// Waits for text to show up in a file that another process writes (a peer's log or pid
// file, tenvar's request log), woken by inotify rather than by polling. Thread-compatible:
// each call uses descriptors of its own.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <string_view>

namespace tenvar::e2e {

// True once the file at `path` contains `text`; false after `timeout`, or when `writer` (a
// process id, 0 for none) has ended without writing it.
bool WaitForFileText(const std::string& path, std::string_view text,
                     std::chrono::milliseconds timeout, pid_t writer = 0);

}  // namespace tenvar::e2e
