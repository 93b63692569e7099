// One of an HTTP proxy instance's four list files (upstream exclusions, cache exclusions,
// abuse keywords, trusted sites): its lines in memory, refreshed when the file's last-write
// time changes, plus the trusted sites learned at run time.
//
// Thread-safety: sessions of one instance refresh and search the same list at once. What
// readers see is an immutable Contents snapshot replaced whole (a pointer copy under the
// snapshot's mutex). refreshLock_ serialises refreshes with each other and with run-time
// appends, and guards everything below it. The learned entries live in a buffer that is only
// ever written past the end any published Contents shows, so an append publishes a new
// Contents without copying the list.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <limits>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "config/message_sink.h"
#include "config/snapshot.h"
#include "platform/file_time.h"

namespace tenvar::config {

class ListFile {
 public:
  using Entries = std::vector<std::string>;
  using Clock = std::chrono::steady_clock;

  // Learned entries kept at most; the oldest learned one goes first. Entries from the file
  // never count against this and are never pushed out.
  static constexpr size_t kMaxLearned = 10'000;
  // How often RefreshIfDue looks at the file.
  static constexpr Clock::duration kRefreshInterval = std::chrono::seconds(1);

  // Learned entries in slots that, once published, are never written again.
  struct LearnedBuffer {
    explicit LearnedBuffer(size_t capacity) : Slots(capacity) {}
    std::vector<std::string> Slots;  // sized once; never reallocated
  };

  struct Contents {
    std::shared_ptr<const Entries> FromFile = std::make_shared<const Entries>();
    std::shared_ptr<const LearnedBuffer> Buffer;
    size_t First = 0;  // the oldest learned entry in Buffer
    size_t End = 0;    // one past the newest

    std::span<const std::string> Learned() const {
      if (!Buffer) return {};
      return std::span<const std::string>(Buffer->Slots).subspan(First, End - First);
    }
    bool Empty() const { return FromFile->empty() && First == End; }
  };

  // Where a refused file is reported (once per change of the file); none by default.
  void ReportTo(MessageSink* messages) { messages_.store(messages); }

  // Brings the list up to date with the file at `path`: emptied when it cannot be opened or
  // is refused (not a regular file of at most 16 MiB), read again when its time differs
  // from the stored one, otherwise left as it is.
  void Refresh(const std::string& path);

  // Refresh, but at most once per kRefreshInterval; `now` comes from the caller so the
  // pacing can be tested. The common case is one atomic load.
  void RefreshIfDue(const std::string& path, Clock::time_point now);

  // The entries read from the file (learned ones are in LoadContents).
  std::shared_ptr<const Entries> Load() const { return contents_.Load()->FromFile; }
  std::shared_ptr<const Contents> LoadContents() const { return contents_.Load(); }

  // Appends `entry` unless the list holds it already; true when it was appended. Constant
  // work apart from an occasional compaction of the learned buffer (amortised constant).
  bool AppendIfMissing(std::string_view entry);

  // True when some entry, from the file or learned, occurs in `text` (case-sensitive).
  bool AnyOccursIn(std::string_view text) const;

  platform::FileTime Time() const;

 private:
  // True when the file was refused and should be reported.
  bool RefreshLocked(const std::string& path);
  void StoreFileEntries(Entries entries);
  void ForgetLearned();

  std::atomic<Clock::rep> nextRefresh_{std::numeric_limits<Clock::rep>::min()};
  std::atomic<MessageSink*> messages_{nullptr};

  mutable std::mutex refreshLock_;
  platform::FileTime time_ = 0;
  // Membership for AppendIfMissing; the views point into the current FromFile and Buffer.
  std::unordered_set<std::string_view> fileSet_;
  std::unordered_set<std::string_view> learnedSet_;
  std::shared_ptr<LearnedBuffer> buffer_;  // the writable side of Contents::Buffer
  Snapshot<Contents> contents_;
};

}  // namespace tenvar::config
