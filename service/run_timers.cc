#include "service/run_timers.h"

namespace tenvar::service {

void RunTimers(const platform::ExitEvent& exitEvent, const std::function<void()>& tick,
               std::chrono::milliseconds period) {
  using Clock = std::chrono::steady_clock;
  Clock::time_point next = Clock::now() + period;
  for (;;) {
    const Clock::time_point now = Clock::now();
    if (now < next) {
      // The event's wait may come back a little early; the loop waits out the rest.
      if (exitEvent.WaitFor(std::chrono::ceil<std::chrono::milliseconds>(next - now))) return;
      continue;
    }
    tick();
    next += period;
    if (next <= Clock::now()) next = Clock::now() + period;
  }
}

}  // namespace tenvar::service
