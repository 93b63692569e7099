// The process-wide manual-reset event that tells every thread to leave. It is an eventfd
// that is written once and never read, so it stays readable: every poll() that includes
// Fd() wakes at once and keeps waking. A flag beside it answers IsSignalled() without a
// system call, since sessions ask at every step. Thread-safe; Signal() is
// async-signal-safe.
#pragma once

#include <atomic>
#include <chrono>

#include "platform/unique_fd.h"

namespace tenvar::platform {

class ExitEvent {
 public:
  ExitEvent();  // ends the program if no eventfd can be made: nothing can stop without it

  void Signal() const;
  bool IsSignalled() const;
  int Fd() const { return fd_.Get(); }

  // Blocks until the event is signalled or the time has passed; true when signalled.
  bool WaitFor(std::chrono::milliseconds timeout) const;
  void Wait() const;

 private:
  UniqueFd fd_;
  // Lock-free, so a signal handler may set it.
  mutable std::atomic<bool> signalled_{false};
  static_assert(std::atomic<bool>::is_always_lock_free);
};

}  // namespace tenvar::platform
