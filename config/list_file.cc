#include "config/list_file.h"

#include <algorithm>

#include "config/settings_file.h"
#include "platform/text.h"

namespace tenvar::config {
namespace {

// Twice the bound: at the bound a compaction, which copies the live learned entries to a
// fresh buffer, then comes at most once per kMaxLearned appends.
constexpr size_t kLearnedCapacity = 2 * ListFile::kMaxLearned;
constexpr size_t kSmallestBuffer = 64;

bool AnyIn(std::span<const std::string> entries, std::string_view text) {
  return std::any_of(entries.begin(), entries.end(), [text](const std::string& entry) {
    return text.find(entry) != std::string_view::npos;
  });
}

}  // namespace

void ListFile::RefreshIfDue(const std::string& path, Clock::time_point now) {
  // A change is seen at most kRefreshInterval late: the time a person needs to save a file
  // and turn to the browser. Only the session that wins the exchange looks at the file; the
  // others go on with the lists as they are.
  Clock::rep due = nextRefresh_.load(std::memory_order_relaxed);
  const Clock::rep nowTicks = now.time_since_epoch().count();
  if (nowTicks < due) return;
  const Clock::rep next = (now + kRefreshInterval).time_since_epoch().count();
  if (!nextRefresh_.compare_exchange_strong(due, next, std::memory_order_relaxed)) return;
  Refresh(path);
}

void ListFile::Refresh(const std::string& path) {
  if (RefreshLocked(path)) {
    // Reported outside the lock: a message may wait for a person to close it.
    if (MessageSink* messages = messages_.load()) {
      messages->ShowMessage(RefusedFileMessage(path), "Cannot read list file");
    }
  }
}

bool ListFile::RefreshLocked(const std::string& path) {
  std::lock_guard lock(refreshLock_);
  const std::optional<platform::FileTime> time = platform::LastWriteTime(path);
  if (!time) {
    // A vanished file empties its list; its time stays, so a restored file with an old
    // time stamp is not read again until it changes.
    if (!contents_.Load()->Empty()) StoreFileEntries({});
    return false;
  }
  if (*time == time_) return false;

  time_ = *time;
  SettingsFile file = ReadSettingsFile(path);
  switch (file.Outcome) {
    case SettingsFileOutcome::Read: {
      Entries entries;
      for (std::string& line : platform::SplitLines(file.Contents)) {
        if (!line.empty()) entries.push_back(std::move(line));
      }
      StoreFileEntries(std::move(entries));
      return false;
    }
    case SettingsFileOutcome::Refused:
      // Treated as missing, but its time is kept so that it is reported once per change.
      StoreFileEntries({});
      return true;
    case SettingsFileOutcome::Missing:
    case SettingsFileOutcome::ReadFailed:
      return false;  // the old list stays until the file's time changes again
  }
  return false;
}

void ListFile::StoreFileEntries(Entries entries) {
  ForgetLearned();
  Contents next;
  next.FromFile = std::make_shared<const Entries>(std::move(entries));
  fileSet_.clear();
  fileSet_.insert(next.FromFile->begin(), next.FromFile->end());
  contents_.Store(std::move(next));
}

void ListFile::ForgetLearned() {
  learnedSet_.clear();
  buffer_.reset();
}

bool ListFile::AppendIfMissing(std::string_view entry) {
  std::lock_guard lock(refreshLock_);
  if (fileSet_.contains(entry) || learnedSet_.contains(entry)) return false;
  const std::shared_ptr<const Contents> current = contents_.Load();
  Contents next = *current;
  if (next.End - next.First == kMaxLearned) {
    learnedSet_.erase(buffer_->Slots[next.First]);
    ++next.First;
  }
  if (!buffer_ || next.End == buffer_->Slots.size()) {
    // Readers may still hold the old buffer, so the live entries are copied, never moved.
    // Room for at least as many appends as entries copied keeps the copying amortised
    // constant; a list that learns little never holds the full-sized buffer.
    const size_t live = next.End - next.First;
    auto fresh = std::make_shared<LearnedBuffer>(
        std::clamp<size_t>(2 * (live + 1), kSmallestBuffer, kLearnedCapacity));
    learnedSet_.clear();
    size_t slot = 0;
    for (const std::string& learned : next.Learned()) {
      fresh->Slots[slot] = learned;
      learnedSet_.insert(fresh->Slots[slot]);
      ++slot;
    }
    buffer_ = std::move(fresh);
    next.First = 0;
    next.End = slot;
  }
  // This slot lies past the End of every published Contents, so no reader looks at it yet.
  buffer_->Slots[next.End] = std::string(entry);
  learnedSet_.insert(buffer_->Slots[next.End]);
  ++next.End;
  next.Buffer = buffer_;
  contents_.Store(std::move(next));
  return true;
}

bool ListFile::AnyOccursIn(std::string_view text) const {
  const std::shared_ptr<const Contents> contents = contents_.Load();
  return AnyIn(*contents->FromFile, text) || AnyIn(contents->Learned(), text);
}

platform::FileTime ListFile::Time() const {
  std::lock_guard lock(refreshLock_);
  return time_;
}

}  // namespace tenvar::config
