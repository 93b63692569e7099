// One of an HTTP proxy instance's four list files (upstream exclusions, cache exclusions,
// abuse keywords, trusted sites): its lines in memory, refreshed when the file's last-write
// time changes.
//
// Thread-safety: sessions of one instance refresh and search the same list at once. The
// entries are an immutable snapshot replaced whole; refreshLock_ serialises refreshes with
// each other and with run-time appends, and guards the stored time.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "config/snapshot.h"
#include "platform/file_time.h"

namespace tenvar::config {

class ListFile {
 public:
  using Entries = std::vector<std::string>;

  // Brings the list up to date with the file at `path`: emptied when it cannot be opened,
  // read again when its time differs from the stored one, otherwise left as it is.
  void Refresh(const std::string& path);

  std::shared_ptr<const Entries> Load() const { return entries_.Load(); }

  // Appends `entry` unless the list holds it already; true when it was appended.
  bool AppendIfMissing(std::string_view entry);

  // True when some entry occurs in `text` (case-sensitive substring).
  bool AnyOccursIn(std::string_view text) const;

  platform::FileTime Time() const;

 private:
  mutable std::mutex refreshLock_;
  platform::FileTime time_ = 0;
  Snapshot<Entries> entries_;
};

}  // namespace tenvar::config
