#include "http/keyword_scanner.h"

#include <algorithm>

namespace tenvar::http {

KeywordScanner::KeywordScanner(std::vector<std::string> keywords)
    : keywords_(std::move(keywords)), found_(keywords_.size(), false) {
  for (const std::string& keyword : keywords_) {
    if (!keyword.empty()) overlap_ = std::max(overlap_, keyword.size() - 1);
  }
}

void KeywordScanner::Search(std::string_view text) {
  for (std::size_t i = 0; i < keywords_.size(); ++i) {
    if (!found_[i] && !keywords_[i].empty() && text.find(keywords_[i]) != std::string_view::npos) {
      found_[i] = true;
    }
  }
}

void KeywordScanner::ScanWhole(std::string_view text) { Search(text); }

void KeywordScanner::Feed(std::string_view block) {
  if (!WantsMore() || block.empty()) return;
  // A keyword that starts in the kept tail ends within the block's first `overlap_` bytes;
  // one wholly inside the block is found by searching the block itself.
  if (!tail_.empty()) {
    std::string joint = tail_;
    joint.append(block.substr(0, overlap_));
    Search(joint);
  }
  Search(block);
  if (block.size() >= overlap_) {
    tail_.assign(block.substr(block.size() - overlap_));
  } else {
    tail_.append(block);
    tail_.erase(0, tail_.size() - std::min(tail_.size(), overlap_));
  }
}

std::optional<std::string> KeywordScanner::Found() const {
  for (std::size_t i = 0; i < keywords_.size(); ++i) {
    if (found_[i]) return keywords_[i];
  }
  return std::nullopt;
}

bool KeywordScanner::WantsMore() const {
  for (std::size_t i = 0; i < keywords_.size(); ++i) {
    if (found_[i]) return false;
    if (!keywords_[i].empty()) return true;
  }
  return false;
}

}  // namespace tenvar::http
