// What one system call gave back: its value, or the errno it failed with.
#pragma once

namespace tenvar::platform {

struct SysResult {
  long Value = 0;
  int Error = 0;
  bool Ok() const { return Error == 0; }
};

}  // namespace tenvar::platform
