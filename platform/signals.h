// How the process reacts to signals, set once at start-up before other threads run.
#pragma once

namespace tenvar::platform {

// Runs `handler` on SIGINT and SIGTERM; system calls it interrupts restart where they can.
void OnStopSignals(void (*handler)(int));

// A peer that closes early must cost a failed send, never the process.
void IgnoreSigpipe();

}  // namespace tenvar::platform
