// The "Refused connection from %s" lines of the ports that serve only the LAN, at most one a
// minute per source address with the count of refusals it stood for, so that a flood from
// outside cannot fill the event log or cost a disk write per packet. Thread-safe.
#pragma once

#include <netinet/in.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string_view>
#include <unordered_map>

namespace tenvar::service {

class RefusalLog {
 public:
  using Clock = std::chrono::steady_clock;
  static constexpr std::chrono::seconds kInterval{60};
  // Sources remembered at once; past this, those whose minute is over are forgotten.
  static constexpr std::size_t kMaxSources = 4096;

  explicit RefusalLog(std::function<void(std::string_view)> logEvent)
      : logEvent_(std::move(logEvent)) {}

  void Refused(in_addr source, Clock::time_point now = Clock::now());

 private:
  struct Source {
    Clock::time_point LastLine;
    std::uint64_t Unlogged = 0;  // refusals since LastLine that wrote no line
  };

  std::function<void(std::string_view)> logEvent_;
  std::mutex lock_;                                    // guards sources_
  std::unordered_map<std::uint32_t, Source> sources_;  // by address, network order
};

}  // namespace tenvar::service
