#include "cache/header_fields.h"

#include <vector>

#include "platform/text.h"

namespace tenvar::cache {
namespace {

constexpr std::string_view kLineEnd = "\r\n";

// Calls `visit(name, value, line)` for every "Name: value" line of `block`.
template <typename Visit>
void ForEachField(std::string_view block, Visit visit) {
  while (!block.empty()) {
    const std::size_t end = block.find(kLineEnd);
    const std::string_view line = block.substr(0, end);
    block = end == std::string_view::npos ? std::string_view() : block.substr(end + 2);
    const std::size_t colon = line.find(':');
    if (colon == std::string_view::npos || colon == 0) continue;
    const std::string_view name = line.substr(0, colon);
    if (name.find(' ') != std::string_view::npos || name.find('\t') != std::string_view::npos) {
      continue;  // a status or request line, not a field
    }
    visit(name, platform::Trim(line.substr(colon + 1)), line);
  }
}

// The list's elements, blanks around them removed.
std::vector<std::string_view> ListElements(std::string_view list) {
  std::vector<std::string_view> elements;
  while (!list.empty()) {
    const std::size_t comma = list.find(',');
    const std::string_view element = platform::Trim(list.substr(0, comma));
    if (!element.empty()) elements.push_back(element);
    if (comma == std::string_view::npos) break;
    list.remove_prefix(comma + 1);
  }
  return elements;
}

bool IsHopByHop(std::string_view name, std::string_view connectionList) {
  static constexpr std::string_view kHopByHop[] = {
      "Connection", "Keep-Alive", "Transfer-Encoding", "TE",
      "Trailer",    "Upgrade",    "Content-Length",    "Age"};
  for (std::string_view hop : kHopByHop) {
    if (platform::EqualsIgnoreCase(name, hop)) return true;
  }
  return platform::StartsWithIgnoreCase(name, "Proxy-") || HasToken(connectionList, name);
}

}  // namespace

std::optional<std::string> FieldValue(std::string_view block, std::string_view name) {
  std::optional<std::string> joined;
  ForEachField(block, [&](std::string_view fieldName, std::string_view value, std::string_view) {
    if (!platform::EqualsIgnoreCase(fieldName, name)) return;
    if (joined) {
      joined->append(", ").append(value);
    } else {
      joined.emplace(value);
    }
  });
  return joined;
}

bool HasToken(std::string_view list, std::string_view token) {
  for (std::string_view element : ListElements(list)) {
    const std::string_view name = platform::Trim(element.substr(0, element.find('=')));
    if (platform::EqualsIgnoreCase(name, token)) return true;
  }
  return false;
}

std::optional<std::int64_t> TokenSeconds(std::string_view list, std::string_view token) {
  for (std::string_view element : ListElements(list)) {
    const std::size_t equals = element.find('=');
    if (equals == std::string_view::npos) continue;
    if (!platform::EqualsIgnoreCase(platform::Trim(element.substr(0, equals)), token)) continue;
    std::string_view digits = platform::Trim(element.substr(equals + 1));
    if (digits.size() >= 2 && digits.front() == '"' && digits.back() == '"') {
      digits = digits.substr(1, digits.size() - 2);
    }
    if (digits.empty()) return std::nullopt;
    std::int64_t seconds = 0;
    for (char c : digits) {
      if (c < '0' || c > '9') return std::nullopt;
      // RFC 9111 §1.2.2: a delta too large to hold means "a very long time".
      if (seconds < (std::int64_t{1} << 40)) seconds = seconds * 10 + (c - '0');
    }
    return seconds;
  }
  return std::nullopt;
}

std::string EndToEndFields(std::string_view responseHead) {
  const std::string connection = FieldValue(responseHead, "Connection").value_or("");
  std::string kept;
  ForEachField(responseHead, [&](std::string_view name, std::string_view, std::string_view line) {
    if (!IsHopByHop(name, connection)) kept.append(line).append(kLineEnd);
  });
  return kept;
}

std::string MergeFields(std::string_view kept, std::string_view update) {
  static constexpr std::string_view kBodyFields[] = {"ETag", "Content-Encoding", "Content-Range",
                                                     "Content-MD5"};
  const auto describesBody = [](std::string_view name) {
    for (std::string_view field : kBodyFields) {
      if (platform::EqualsIgnoreCase(name, field)) return true;
    }
    return false;
  };
  std::string merged;
  ForEachField(kept, [&](std::string_view name, std::string_view, std::string_view line) {
    if (describesBody(name) || !FieldValue(update, name)) merged.append(line).append(kLineEnd);
  });
  ForEachField(update, [&](std::string_view name, std::string_view, std::string_view line) {
    if (!describesBody(name)) merged.append(line).append(kLineEnd);
  });
  return merged;
}

}  // namespace tenvar::cache
