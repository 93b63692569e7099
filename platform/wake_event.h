// An eventfd by which producers wake the one thread that waits on it in poll(): readable
// from the first Wake() until the waiter calls Clear(). Wake() may be called from any thread.
#pragma once

#include "platform/unique_fd.h"

namespace tenvar::platform {

class WakeEvent {
 public:
  WakeEvent();  // not Valid() when no eventfd could be made; errno tells why

  bool Valid() const { return fd_.Valid(); }
  int Fd() const { return fd_.Get(); }

  void Wake() const;
  // Takes every wake-up so far, so that the descriptor is quiet until the next.
  void Clear() const;

 private:
  UniqueFd fd_;
};

}  // namespace tenvar::platform
