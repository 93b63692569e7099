#include "tray/dial_animation.h"

namespace tenvar::tray {

std::optional<int> DialAnimation::Tick() {
  if (++tick_ < 5) return std::nullopt;
  tick_ = 1;
  const int shown = frame_;
  frame_ = (frame_ + 1) % kFrameCount;
  return shown;
}

}  // namespace tenvar::tray
