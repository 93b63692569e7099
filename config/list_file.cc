#include "config/list_file.h"

#include <algorithm>

#include "config/text.h"

namespace tenvar::config {

void ListFile::Refresh(const std::string& path) {
  std::lock_guard lock(refreshLock_);
  const std::optional<platform::FileTime> time = platform::LastWriteTime(path);
  if (!time) {
    // A vanished file empties its list; its time stays, so a restored file with an old
    // time stamp is not read again until it changes.
    if (!entries_.Load()->empty()) entries_.Store({});
    return;
  }
  if (*time == time_) return;

  std::string contents;
  if (ReadTextFile(path, contents)) {
    Entries entries;
    for (std::string& line : SplitLines(contents)) {
      if (!line.empty()) entries.push_back(std::move(line));
    }
    entries_.Store(std::move(entries));
  }
  time_ = *time;
}

bool ListFile::AppendIfMissing(std::string_view entry) {
  std::lock_guard lock(refreshLock_);
  std::shared_ptr<const Entries> current = entries_.Load();
  if (std::find(current->begin(), current->end(), entry) != current->end()) return false;
  Entries grown = *current;
  grown.emplace_back(entry);
  entries_.Store(std::move(grown));
  return true;
}

bool ListFile::AnyOccursIn(std::string_view text) const {
  std::shared_ptr<const Entries> entries = entries_.Load();
  return std::any_of(entries->begin(), entries->end(), [text](const std::string& entry) {
    return text.find(entry) != std::string_view::npos;
  });
}

platform::FileTime ListFile::Time() const {
  std::lock_guard lock(refreshLock_);
  return time_;
}

}  // namespace tenvar::config
