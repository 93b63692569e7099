#include "tray/details_fields.h"

#include <algorithm>
#include <cstdio>

#include "dialup/tray_view.h"

namespace tenvar::tray {

std::string CountdownText(std::uint32_t seconds) {
  char text[16];
  std::snprintf(text, sizeof text, "%02u:%02u:%02u", (seconds / 3600) % 24, (seconds / 60) % 60,
                seconds % 60);
  return text;
}

DetailsFields DetailsFor(const DetailsInput& input) {
  DetailsFields fields;
  fields.Connections = std::to_string(input.Connections);
  char size[64];
  std::snprintf(size, sizeof size, "%.03f", input.CacheSizeMB);
  fields.CacheSize = size;
  fields.Items = std::to_string(input.CacheItemCount);
  fields.Countdown = CountdownText(input.IdleSecondsLeft);
  fields.Hits = std::to_string(input.CacheHitCount) + "/" + std::to_string(input.RequestCount);
  if (!input.Dial) {
    fields.PhonebookEntry = "Not applicable";
    fields.StatusIcon = dialup::kIconConnected;
    fields.StatusText = "Permanently connected";
    return fields;
  }
  fields.PhonebookEntry = input.PhonebookEntry;
  switch (input.State) {
    case dialup::ConnectionState::NotConnected:
      fields.StatusIcon = dialup::kIconNotConnected;
      fields.StatusText = "Not connected.";
      break;
    case dialup::ConnectionState::Connecting:
      fields.StatusIcon = dialup::kIconConnecting;
      fields.StatusText = "Connecting.";
      break;
    case dialup::ConnectionState::Connected:
      fields.StatusIcon = dialup::kIconConnected;
      fields.StatusText = "Connected.";
      break;
  }
  return fields;
}

int BarHeight(std::uint32_t sample) {
  return static_cast<int>(std::min<std::uint32_t>(sample, 100) / 4);
}

BarRect BarFor(std::size_t index, std::uint32_t sample) {
  const int left = 1 + 5 * static_cast<int>(index);
  return {left, 26 - BarHeight(sample), left + 4, 26};
}

}  // namespace tenvar::tray
