// Block rules: every line of the first piece through ParseBlockRule and RuleMatches against
// a host and a path taken from the input, then the whole piece as a block file in both
// forms, asked about the same host and path.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "config/block_list.h"
#include "fuzz/fuzz_input.h"
#include "platform/text.h"

namespace {

using tenvar::fuzz::FuzzInput;
using tenvar::fuzz::Require;
using tenvar::fuzz::RunDirectory;

std::vector<std::string_view> HostLabels(std::string_view host, bool& usable) {
  std::vector<std::string_view> labels;
  usable = true;
  for (;;) {
    const std::size_t dot = host.find('.');
    const std::string_view label = host.substr(0, dot);
    if (label.size() > 127) usable = false;
    labels.push_back(label);
    if (dot == std::string_view::npos) return labels;
    host.remove_prefix(dot + 1);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzInput input(data, size);
  const std::string_view rules = input.TakePiece();
  const std::string_view host = input.TakePiece();
  const std::string_view path = input.Rest();

  bool usable = true;
  const std::vector<std::string_view> labels = HostLabels(host, usable);
  for (const std::string& line : tenvar::platform::SplitLines(rules)) {
    const std::optional<tenvar::config::BlockRule> rule = tenvar::config::ParseBlockRule(line);
    if (!rule) continue;
    Require(!rule->UrlPattern.empty(), "a parsed rule has a path pattern");
    for (const std::string& label : rule->HostLabels) {
      Require(!label.empty(), "host pattern labels are never empty");
    }
    tenvar::config::RuleMatches(*rule, labels, usable, path);
  }

  tenvar::config::HttpProxyOptions options;
  options.BlockFile = RunDirectory().Write("block.txt", rules);
  for (const bool advanced : {false, true}) {
    options.AdvancedBlocking = advanced;
    tenvar::config::BlockList list;
    list.LoadBlockFile(options);
    const int blocked = list.IsBlocked(host, path, options);
    Require(blocked == 0 || blocked == 1, "IsBlocked answers 0 or 1");
    list.ReloadIfFormDiffers(options);
  }
  return 0;
}
