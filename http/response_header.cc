#include "http/response_header.h"

#include <limits>

#include "http/http_date.h"
#include "platform/text.h"

namespace tenvar::http {
namespace {

constexpr std::string_view kHeaderEnd = "\r\n\r\n";
constexpr std::string_view kLineEnd = "\r\n";

// Where the value of the first header line named `name` (any case) starts inside `head`, the
// blanks after the colon skipped; nothing when no line is so named. The status line is not
// a header.
std::optional<std::size_t> FindHeaderValue(std::string_view head, std::string_view name) {
  std::size_t lineStart = head.find(kLineEnd);
  while (lineStart != std::string_view::npos) {
    lineStart += kLineEnd.size();
    const std::string_view rest = head.substr(lineStart);
    if (rest.size() > name.size() && rest[name.size()] == ':' &&
        platform::StartsWithIgnoreCase(rest, name)) {
      std::size_t value = lineStart + name.size() + 1;
      while (value < head.size() && (head[value] == ' ' || head[value] == '\t')) ++value;
      return value;
    }
    lineStart = head.find(kLineEnd, lineStart);
  }
  return std::nullopt;
}

// The header's value up to the end of its line.
std::optional<std::string_view> HeaderValue(std::string_view head, std::string_view name) {
  const std::optional<std::size_t> value = FindHeaderValue(head, name);
  if (!value) return std::nullopt;
  return head.substr(*value, head.find('\r', *value) - *value);
}

std::optional<std::time_t> DateHeader(std::string_view head, std::string_view name) {
  const std::optional<std::string_view> value = HeaderValue(head, name);
  if (!value) return std::nullopt;
  return ParseHttpDate(*value);
}

std::optional<std::uint32_t> ContentLengthOf(std::string_view head) {
  const std::optional<std::string_view> value = HeaderValue(head, "Content-Length");
  if (!value || value->empty() || value->front() < '0' || value->front() > '9') {
    return std::nullopt;
  }
  std::uint64_t length = 0;
  for (char c : *value) {
    if (c < '0' || c > '9') break;
    length = length * 10 + static_cast<std::uint64_t>(c - '0');
    // A body this large cannot be counted; it is read until the server closes instead.
    if (length > std::numeric_limits<std::uint32_t>::max()) return std::nullopt;
  }
  return static_cast<std::uint32_t>(length);
}

bool ContainsIgnoreCase(std::string_view text, std::string_view word) {
  for (std::size_t at = 0; at + word.size() <= text.size(); ++at) {
    if (platform::StartsWithIgnoreCase(text.substr(at), word)) return true;
  }
  return false;
}

// Cache-Control forbids storing; a Pragma after it saying so counts as well.
bool IsNoCache(std::string_view head) {
  const std::optional<std::size_t> value = FindHeaderValue(head, "Cache-Control");
  if (!value) return false;
  const std::string_view after = head.substr(*value);
  return ContainsIgnoreCase(after, "no-cache") || ContainsIgnoreCase(after, "no-store");
}

// Only a lone "chunked" can be undone for the cache; any other coding, or more than one
// Transfer-Encoding line, leaves the body as the server framed it.
TransferCoding TransferCodingOf(std::string_view head) {
  const std::optional<std::size_t> value = FindHeaderValue(head, "Transfer-Encoding");
  if (!value) return TransferCoding::None;
  const std::size_t lineEnd = head.find(kLineEnd, *value);
  const std::string_view coding = platform::Trim(head.substr(*value, lineEnd - *value));
  if (!platform::EqualsIgnoreCase(coding, "chunked") ||
      (lineEnd != std::string_view::npos &&
       FindHeaderValue(head.substr(lineEnd), "Transfer-Encoding"))) {
    return TransferCoding::Other;
  }
  return TransferCoding::Chunked;
}

}  // namespace

std::optional<ResponseHead> ParseResponseHead(std::string_view received) {
  const std::size_t headEnd = received.find(kHeaderEnd);
  if (headEnd == std::string_view::npos) return std::nullopt;
  const std::string_view head = received.substr(0, headEnd);
  ResponseHead parsed;
  parsed.HeaderLength = headEnd + kHeaderEnd.size();

  const std::string_view statusLine = head.substr(0, head.find(kLineEnd));
  const std::size_t space = statusLine.find(' ');
  if (space != std::string_view::npos) {
    parsed.Status = platform::ParseNumber(statusLine.substr(space + 1));
  }

  if (const std::optional<std::uint32_t> length = ContentLengthOf(head)) {
    parsed.ContentLength = *length;
    parsed.HasContentLength = true;
  }

  parsed.ItemTime = DateHeader(head, "Last-Modified");
  if (!parsed.ItemTime) parsed.ItemTime = DateHeader(head, "Date");

  parsed.NoCache = IsNoCache(head);
  parsed.Coding = TransferCodingOf(head);
  return parsed;
}

}  // namespace tenvar::http
