#include "config/block_list.h"

#include <utility>

#include "config/settings_file.h"
#include "platform/text.h"

namespace tenvar::config {
namespace {

// Rule fields are separated by spaces and tabs only; the wider platform::kBlanks set is for line ends.
constexpr std::string_view kFieldBlanks = " \t";

// A host label longer than this cannot be a real DNS label; such a host matches no
// label-based pattern rather than being compared piece by piece.
constexpr size_t kMaxHostLabel = 127;

// Takes the text up to the next field blank off the front of `rest`, then the blanks after it.
std::string_view TakeField(std::string_view& rest) {
  const size_t end = rest.find_first_of(kFieldBlanks);
  const std::string_view field = rest.substr(0, end);
  rest = end == std::string_view::npos ? std::string_view() : rest.substr(end);
  const size_t next = rest.find_first_not_of(kFieldBlanks);
  rest = next == std::string_view::npos ? std::string_view() : rest.substr(next);
  return field;
}

bool LabelMatches(std::string_view pattern, std::string_view label) {
  if (pattern == "*") return true;
  if (pattern.size() > 1 && pattern.front() == '*') {
    return platform::EndsWithIgnoreCase(label, pattern.substr(1));
  }
  if (pattern.size() > 1 && pattern.back() == '*') {
    return platform::StartsWithIgnoreCase(label, pattern.substr(0, pattern.size() - 1));
  }
  return platform::EqualsIgnoreCase(label, pattern);
}

bool HostMatches(const BlockRule& rule, const std::vector<std::string_view>& hostLabels,
                 bool hostLabelsUsable) {
  if (rule.AnyHost) return true;
  if (!hostLabelsUsable) return false;
  // The rule's labels anchor at the front of the host; host labels past them are free.
  if (hostLabels.size() < rule.HostLabels.size()) return false;
  for (size_t i = 0; i < rule.HostLabels.size(); ++i) {
    if (!LabelMatches(rule.HostLabels[i], hostLabels[i])) return false;
  }
  return true;
}

bool PathMatches(std::string_view pattern, std::string_view path) {
  if (pattern == "*") return true;
  if (pattern.size() > 1 && pattern.front() == '*') {
    return platform::EndsWithIgnoreCase(path, pattern.substr(1));
  }
  if (pattern.size() >= 2 && pattern.back() == '*') {
    return platform::StartsWithIgnoreCase(path, pattern.substr(0, pattern.size() - 1));
  }
  return platform::EqualsIgnoreCase(path, pattern);
}

// Every "." starts a new label, so empty labels survive and a trailing dot leaves an empty
// last label.
std::vector<std::string_view> SplitHostLabels(std::string_view host, bool& usable) {
  std::vector<std::string_view> labels;
  usable = true;
  for (;;) {
    const size_t dot = host.find('.');
    const std::string_view label = host.substr(0, dot);
    if (label.size() > kMaxHostLabel) usable = false;
    labels.push_back(label);
    if (dot == std::string_view::npos) break;
    host.remove_prefix(dot + 1);
  }
  return labels;
}

bool OccursIn(const std::vector<std::string>& entries, std::string_view host,
              std::string_view path) {
  for (const std::string& entry : entries) {
    if (host.find(entry) != std::string_view::npos) return true;
    if (path.find(entry) != std::string_view::npos) return true;
  }
  return false;
}

}  // namespace

std::optional<BlockRule> ParseBlockRule(std::string_view line) {
  std::string_view rest = platform::Trim(line);
  if (rest.empty() || rest.front() == '#') return std::nullopt;

  // Only the kind's first character counts, so "-deny" and "+allow" read as "-" and "+".
  const std::string_view kind = TakeField(rest);
  const std::string_view hostPattern = TakeField(rest);
  const std::string_view urlPattern = rest;
  if (kind.empty() || hostPattern.empty() || urlPattern.empty()) return std::nullopt;
  if (kind.front() != '+' && kind.front() != '-') return std::nullopt;

  BlockRule rule;
  rule.Allow = kind.front() == '+';
  rule.AnyHost = hostPattern == "*";
  rule.UrlPattern = std::string(urlPattern);
  std::string_view labels = hostPattern;
  for (;;) {
    const size_t dot = labels.find('.');
    const std::string_view label = labels.substr(0, dot);
    if (!label.empty()) rule.HostLabels.emplace_back(label);
    if (dot == std::string_view::npos) break;
    labels.remove_prefix(dot + 1);
  }
  return rule;
}

bool RuleMatches(const BlockRule& rule, const std::vector<std::string_view>& hostLabels,
                 bool hostLabelsUsable, std::string_view path) {
  return HostMatches(rule, hostLabels, hostLabelsUsable) && PathMatches(rule.UrlPattern, path);
}

void BlockList::LoadBlockFile(const HttpProxyOptions& config) {
  std::unique_lock lock(reloadLock_);
  if (!LoadLocked(config)) return;
  lock.unlock();
  ReportRefused(config.BlockFile);
}

bool BlockList::LoadLocked(const HttpProxyOptions& config) {
  BlockData next = *data_.Load();
  next.BlockFile = config.BlockFile;
  next.LoadedAdvanced = config.AdvancedBlocking;

  // The time is taken (fstat of the opened file) before the contents: a write landing
  // during the read then leaves a newer time on the file than the one stored, and the next
  // test reads the file again.
  const SettingsFile file = ReadSettingsFile(config.BlockFile);
  if (config.AdvancedBlocking) {
    next.Rules.clear();
  } else {
    next.PlainEntries.clear();
  }
  if (file.Outcome == SettingsFileOutcome::Refused) {
    // Treated as missing; its time is kept so that neither the reading nor the report is
    // repeated before the file changes.
    blockFileTime_ = file.Time;
    data_.Store(std::move(next));
    // Both forms of a load, and every re-read of the configuration, meet the same file:
    // it is reported once per change.
    if (refusedTime_ == file.Time) return false;
    refusedTime_ = file.Time;
    return true;
  }
  if (file.Outcome != SettingsFileOutcome::Read) {
    data_.Store(std::move(next));
    return false;
  }

  for (const std::string& line : platform::SplitLines(file.Contents)) {
    if (config.AdvancedBlocking) {
      if (std::optional<BlockRule> rule = ParseBlockRule(line)) {
        next.Rules.push_back(std::move(*rule));
      }
    } else if (!line.empty()) {
      next.PlainEntries.push_back(line);
    }
  }
  blockFileTime_ = file.Time;
  data_.Store(std::move(next));
  return false;
}

void BlockList::ReportRefused(const std::string& path) const {
  // Called outside reloadLock_: a message may wait for a person to close it.
  if (MessageSink* messages = messages_.load()) {
    messages->ShowMessage(RefusedFileMessage(path), "Cannot read block file");
  }
}

int BlockList::IsBlocked(std::string_view host, std::string_view path,
                         const HttpProxyOptions& config, Clock::time_point now) {
  std::shared_ptr<const BlockData> data = data_.Load();
  // The file is looked at once a second at most, by the session that wins the exchange: a
  // stat and a lock per request cost a busy proxy more than a change seen a second late.
  Clock::rep due = nextCheck_.load(std::memory_order_relaxed);
  const bool look = now.time_since_epoch().count() >= due &&
                    nextCheck_.compare_exchange_strong(
                        due, (now + kCheckInterval).time_since_epoch().count(),
                        std::memory_order_relaxed);
  // A block file that disappeared keeps its lists: a proxy should not open up because an
  // editor briefly removed the file while saving it.
  if (const std::optional<platform::FileTime> time =
          look ? platform::LastWriteTime(data->BlockFile) : std::nullopt) {
    std::unique_lock lock(reloadLock_);
    // Sessions racing here all saw the old time; only the first reloads, the rest find the
    // stored time already brought up to date.
    if (*time != blockFileTime_) {
      const bool refused = LoadLocked(config);
      data = data_.Load();
      lock.unlock();
      if (refused) ReportRefused(config.BlockFile);
    }
  }

  bool hostLabelsUsable = true;
  const std::vector<std::string_view> hostLabels = SplitHostLabels(host, hostLabelsUsable);

  if (!config.AdvancedBlocking) return OccursIn(data->PlainEntries, host, path) ? 1 : 0;

  int blocked = 0;
  for (const BlockRule& rule : data->Rules) {
    if (RuleMatches(rule, hostLabels, hostLabelsUsable, path)) blocked = rule.Allow ? 0 : 1;
  }
  return blocked;
}

void BlockList::ReloadIfFormDiffers(const HttpProxyOptions& config) {
  std::unique_lock lock(reloadLock_);
  if (config.BlockFile.empty()) return;
  if (data_.Load()->LoadedAdvanced == config.AdvancedBlocking) return;
  if (!LoadLocked(config)) return;
  lock.unlock();
  ReportRefused(config.BlockFile);
}

platform::FileTime BlockList::BlockFileTime() const {
  std::lock_guard lock(reloadLock_);
  return blockFileTime_;
}

}  // namespace tenvar::config
