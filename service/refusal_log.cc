#include "service/refusal_log.h"

#include <string>

#include "platform/socket.h"

namespace tenvar::service {

void RefusalLog::Refused(in_addr source, Clock::time_point now) {
  std::uint64_t unlogged = 0;
  {
    std::lock_guard lock(lock_);
    if (sources_.size() >= kMaxSources) {
      std::erase_if(sources_,
                    [now](const auto& entry) { return now - entry.second.LastLine >= kInterval; });
    }
    const auto [found, isNew] = sources_.try_emplace(source.s_addr, Source{now, 0});
    Source& entry = found->second;
    if (!isNew) {
      if (now - entry.LastLine < kInterval) {
        ++entry.Unlogged;
        return;
      }
      unlogged = entry.Unlogged;
      entry = Source{now, 0};
    }
  }
  std::string line = "Refused connection from " + platform::FormatAddress(source);
  if (unlogged > 0) line += " (" + std::to_string(unlogged) + " more since the last line)";
  if (logEvent_) logEvent_(line);
}

}  // namespace tenvar::service
