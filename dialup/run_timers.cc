#include "dialup/run_timers.h"

namespace tenvar::dialup {

void RunTimers(const platform::ExitEvent& exitEvent, const std::function<void()>& tick,
               std::chrono::milliseconds period) {
  using Clock = std::chrono::steady_clock;
  Clock::time_point next = Clock::now() + period;
  for (;;) {
    const auto wait = std::chrono::ceil<std::chrono::milliseconds>(next - Clock::now());
    if (exitEvent.WaitFor(std::max(wait, std::chrono::milliseconds(0)))) return;
    tick();
    next += period;
    const Clock::time_point now = Clock::now();
    if (next <= now) next = now + period;
  }
}

}  // namespace tenvar::dialup
