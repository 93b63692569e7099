#include "service/headless_messages.h"

#include <cstdio>
#include <string>

namespace tenvar::service {

void HeadlessMessages::ShowMessage(std::string_view text, std::string_view caption) {
  std::string line(caption);
  line.append(": ").append(text);
  if (config::MessageSink* screen = screen_.load()) {
    log_.LogEvent(line);
    screen->ShowMessage(text, caption);
    return;
  }
  {
    std::lock_guard lock(stderrLock_);
    std::fprintf(stderr, "%s\n", line.c_str());
    std::fflush(stderr);
  }
  log_.LogEvent(line);
}

}  // namespace tenvar::service
