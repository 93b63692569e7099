#include "cache/kept_headers.h"

#include <algorithm>
#include <charconv>

#include "cache/header_fields.h"

namespace tenvar::cache {
namespace {

constexpr std::string_view kBlankLine = "\r\n\r\n";

template <typename Number>
std::optional<Number> NumberField(std::string_view block, std::string_view name) {
  const std::optional<std::string> value = FieldValue(block, name);
  if (!value) return std::nullopt;
  Number number{};
  const auto [end, error] = std::from_chars(value->data(), value->data() + value->size(), number);
  if (error != std::errc() || end != value->data() + value->size()) return std::nullopt;
  return number;
}

}  // namespace

std::int64_t KeptHeaders::AgeAt(std::time_t now) const {
  return InitialAge + std::max<std::int64_t>(0, now - StoredAt);
}

std::string FormatKeptHeaders(const KeptHeaders& headers) {
  std::string text = "Stored-At: " + std::to_string(headers.StoredAt) + "\r\n";
  text += "Initial-Age: " + std::to_string(headers.InitialAge) + "\r\n";
  if (headers.Lifetime) text += "Lifetime: " + std::to_string(*headers.Lifetime) + "\r\n";
  text += "Body-Bytes: " + std::to_string(headers.BodyBytes) + "\r\n";
  text += "Body-Inode: " + std::to_string(headers.BodyInode) + "\r\n\r\n";
  text += headers.Fields;
  return text;
}

std::optional<KeptHeaders> ParseKeptHeaders(std::string_view text) {
  const std::size_t blank = text.find(kBlankLine);
  if (blank == std::string_view::npos) return std::nullopt;
  const std::string_view meta = text.substr(0, blank + 2);
  KeptHeaders headers;
  const std::optional<std::int64_t> storedAt = NumberField<std::int64_t>(meta, "Stored-At");
  const std::optional<std::int64_t> initialAge = NumberField<std::int64_t>(meta, "Initial-Age");
  const std::optional<std::uint64_t> bytes = NumberField<std::uint64_t>(meta, "Body-Bytes");
  const std::optional<std::uint64_t> inode = NumberField<std::uint64_t>(meta, "Body-Inode");
  if (!storedAt || !initialAge || !bytes || !inode) return std::nullopt;
  headers.StoredAt = static_cast<std::time_t>(*storedAt);
  headers.InitialAge = *initialAge;
  headers.Lifetime = NumberField<std::int64_t>(meta, "Lifetime");
  headers.BodyBytes = *bytes;
  headers.BodyInode = *inode;
  headers.Fields = std::string(text.substr(blank + kBlankLine.size()));
  return headers;
}

}  // namespace tenvar::cache
