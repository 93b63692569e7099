// What the details window shows, as text, computed from the program's counters. Kept apart
// from the window so the formats and the dial-up rules can be checked without a screen.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "cache/cache_statistics.h"
#include "dialup/dial_manager.h"

namespace tenvar::tray {

// A snapshot of the counters, read on the GUI thread at each refresh.
struct DetailsInput {
  std::size_t Connections = 0;  // browser connections plus FTP proxy sessions
  double CacheSizeMB = 0;
  std::int32_t CacheItemCount = 0;
  std::uint32_t IdleSecondsLeft = 0;
  std::uint32_t CacheHitCount = 0;
  std::uint32_t RequestCount = 0;
  bool Dial = false;
  std::string PhonebookEntry;
  dialup::ConnectionState State = dialup::ConnectionState::NotConnected;
};

struct DetailsFields {
  std::string Connections;
  std::string CacheSize;  // "%.03f"
  std::string Items;
  std::string Countdown;  // "hh:mm:ss"
  std::string Hits;       // "hits/requests"
  std::string PhonebookEntry;
  int StatusIcon = 0;  // one of the tray's icon ids
  std::string StatusText;
};

DetailsFields DetailsFor(const DetailsInput& input);

// Seconds as a time span within a day, two digits each: 300 → "00:05:00".
std::string CountdownText(std::uint32_t seconds);

// One bar of the cache history graph, in the graph picture's pixels; right and bottom are
// excluded, so an empty bar has Top == Bottom.
struct BarRect {
  int Left = 0;
  int Top = 0;
  int Right = 0;
  int Bottom = 0;
  bool operator==(const BarRect&) const = default;
};

inline constexpr int kGraphWidth = 102;
inline constexpr int kGraphHeight = 27;

// A sample in percent becomes a bar of sample/4 pixels standing on row 25: 100 % is 25
// pixels, under 4 % nothing. A sample above 100 is drawn as 100 so it never leaves the picture.
int BarHeight(std::uint32_t sample);
BarRect BarFor(std::size_t index, std::uint32_t sample);

}  // namespace tenvar::tray
