// The dialling status window's clock: it ticks every 50 ms (refreshing the status text) and
// changes the picture every fourth tick, cycling through the four animation frames.
#pragma once

#include <optional>

namespace tenvar::tray {

class DialAnimation {
 public:
  static constexpr int kFrameCount = 4;

  // One 50 ms tick; the frame (0 to 3) to show now, or nothing when the picture stays.
  std::optional<int> Tick();

 private:
  int tick_ = 1;
  int frame_ = 0;
};

}  // namespace tenvar::tray
