// The program's one-second timers without a window system: a thread of its own runs
// RunTimers, which calls `tick` once a period until the exit event, blocking in poll() on the
// event in between.
#pragma once

#include <chrono>
#include <functional>

#include "platform/exit_event.h"

namespace tenvar::service {

// Returns once `exitEvent` is signalled. Ticks keep to the period's grid: a slow tick shortens
// the wait after it, and ticks missed by a stall are not made up.
void RunTimers(const platform::ExitEvent& exitEvent, const std::function<void()>& tick,
               std::chrono::milliseconds period = std::chrono::seconds(1));

}  // namespace tenvar::service
