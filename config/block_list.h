// An HTTP proxy instance's block file and the test that refuses requests with it. The file
// is either a plain list of words that must not occur in a host or path, or ordered
// allow/deny rules over host labels and paths (the instance's AdvancedBlocking picks which).
//
// Thread-safety: IsBlocked runs on every session thread and may reload the file while other
// sessions test against it. Loaded lists live in an immutable snapshot that a reload
// replaces whole, so a test sees either the old lists or the new ones; reloads are
// serialised by reloadLock_, which also guards BlockFileTime.
#pragma once

#include <atomic>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "config/http_proxy_options.h"
#include "config/message_sink.h"
#include "config/snapshot.h"
#include "platform/file_time.h"

namespace tenvar::config {

struct BlockRule {
  bool AnyHost = false;      // the host pattern is exactly "*"
  std::string UrlPattern;    // "*", "*text", "text*" or "text"
  bool Allow = false;        // "+" allows, "-" denies
  std::vector<std::string> HostLabels;  // the host pattern split at ".", empty pieces dropped
};

// What one load of the block file produced. Loading one form leaves the other form's list
// as it was.
struct BlockData {
  std::string BlockFile;
  std::vector<std::string> PlainEntries;
  std::vector<BlockRule> Rules;
  // The form of the last load (true: rules), nothing before the first.
  std::optional<bool> LoadedAdvanced;
};

// Parses one line of an advanced block file; nothing for comments, blank lines, lines with a
// missing field and lines whose kind is neither "+" nor "-".
std::optional<BlockRule> ParseBlockRule(std::string_view line);

// Whether one rule's host and path patterns both match (case-insensitively).
bool RuleMatches(const BlockRule& rule, const std::vector<std::string_view>& hostLabels,
                 bool hostLabelsUsable, std::string_view path);

class BlockList {
 public:
  // (Re)reads the block file named by config.BlockFile in the form config.AdvancedBlocking
  // chooses, and remembers the file's last-write time.
  void LoadBlockFile(const HttpProxyOptions& config);

  using Clock = std::chrono::steady_clock;
  // How often IsBlocked looks at the file's last-write time.
  static constexpr Clock::duration kCheckInterval = std::chrono::seconds(1);

  // 1 when the request for host and path is refused, else 0. Reloads the block file first
  // when its last-write time changed, looking at most once per kCheckInterval.
  int IsBlocked(std::string_view host, std::string_view path, const HttpProxyOptions& config,
                Clock::time_point now = Clock::now());

  // The loader calls this when a directive closes: a list read in the other form than the
  // instance's final AdvancedBlocking (the writer puts BlockFile before AdvancedBlocking)
  // is read again in the right one.
  void ReloadIfFormDiffers(const HttpProxyOptions& config);

  // Where a refused block file (not a regular file of at most 16 MiB) is reported, once
  // per change of the file; none by default.
  void ReportTo(MessageSink* messages) { messages_.store(messages); }

  platform::FileTime BlockFileTime() const;
  std::shared_ptr<const BlockData> Data() const { return data_.Load(); }

 private:
  // True when the file was refused and should be reported (after the lock is released).
  bool LoadLocked(const HttpProxyOptions& config);
  void ReportRefused(const std::string& path) const;

  std::atomic<MessageSink*> messages_{nullptr};
  std::atomic<Clock::rep> nextCheck_{std::numeric_limits<Clock::rep>::min()};
  mutable std::mutex reloadLock_;  // serialises loads; guards the two times
  platform::FileTime blockFileTime_ = 0;
  std::optional<platform::FileTime> refusedTime_;  // of the last file reported as refused
  Snapshot<BlockData> data_;
};

}  // namespace tenvar::config
