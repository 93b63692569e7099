#include "http/request_body.h"

#include <algorithm>
#include <charconv>
#include <vector>

#include "platform/text.h"

namespace tenvar::http {
namespace {

constexpr std::string_view kLineEnd = "\r\n";
// Sixteen hex digits would overflow the count; nobody sends a chunk of an exabyte.
constexpr int kMaxChunkSizeDigits = 15;

struct Field {
  std::string_view Name;
  std::string_view Value;
};

// The header fields after the request line; `wellFormed` is false when a name is followed
// by white space before its colon (RFC 9112 §5.1 says to refuse such a request).
std::vector<Field> FieldsOf(std::string_view head, bool& wellFormed) {
  std::vector<Field> fields;
  wellFormed = true;
  std::size_t lineEnd = head.find(kLineEnd);
  while (lineEnd != std::string_view::npos) {
    head.remove_prefix(lineEnd + kLineEnd.size());
    lineEnd = head.find(kLineEnd);
    const std::string_view line = head.substr(0, lineEnd);
    const std::size_t colon = line.find(':');
    if (line.empty() || colon == std::string_view::npos) continue;
    if (colon == 0 || line[colon - 1] == ' ' || line[colon - 1] == '\t') wellFormed = false;
    fields.push_back({line.substr(0, colon), platform::Trim(line.substr(colon + 1))});
  }
  return fields;
}

// Each element of a comma-separated list, trimmed; empty elements are kept, so that a
// list like "5," is seen as invalid where a number is wanted.
template <typename Visit>
void ForEachElement(std::string_view list, Visit visit) {
  for (;;) {
    const std::size_t comma = list.find(',');
    visit(platform::Trim(list.substr(0, comma)));
    if (comma == std::string_view::npos) return;
    list.remove_prefix(comma + 1);
  }
}

std::optional<std::uint64_t> ParseLength(std::string_view digits) {
  std::uint64_t value = 0;
  if (digits.empty() || digits.size() > 18) return std::nullopt;
  const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
  if (error != std::errc() || end != digits.data() + digits.size()) return std::nullopt;
  return value;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

std::optional<BodyFraming> BodyFramingOf(std::string_view head) {
  bool wellFormed = true;
  const std::vector<Field> fields = FieldsOf(head, wellFormed);
  if (!wellFormed) return std::nullopt;
  std::optional<std::uint64_t> length;
  bool anyLength = false;
  bool validLength = true;
  std::string_view lastCoding;
  bool anyCoding = false;
  for (const Field& field : fields) {
    if (platform::EqualsIgnoreCase(field.Name, "Content-Length")) {
      anyLength = true;
      // "5, 5" is one length said twice (RFC 9110 §8.6); "5, 6" is two.
      ForEachElement(field.Value, [&](std::string_view element) {
        const std::optional<std::uint64_t> value = ParseLength(element);
        if (!value || (length && *length != *value)) validLength = false;
        if (value) length = value;
      });
    } else if (platform::EqualsIgnoreCase(field.Name, "Transfer-Encoding")) {
      anyCoding = true;
      ForEachElement(field.Value, [&](std::string_view element) {
        if (!element.empty()) lastCoding = element;
      });
    }
  }
  if (anyCoding) {
    if (anyLength || !platform::EqualsIgnoreCase(lastCoding, "chunked")) return std::nullopt;
    return BodyFraming{BodyFraming::Kind::Chunked, 0};
  }
  if (!anyLength) return BodyFraming{};
  if (!validLength) return std::nullopt;
  return BodyFraming{BodyFraming::Kind::Length, *length};
}

bool ExpectsContinue(std::string_view head, std::string_view httpVersion) {
  // An HTTP/1.0 client cannot wait for an interim answer it does not know.
  if (httpVersion == "HTTP/1.0") return false;
  bool wellFormed = true;
  for (const Field& field : FieldsOf(head, wellFormed)) {
    if (platform::EqualsIgnoreCase(field.Name, "Expect") &&
        platform::EqualsIgnoreCase(field.Value, "100-continue")) {
      return true;
    }
  }
  return false;
}

BodyEnd::BodyEnd(BodyFraming framing) : kind_(framing.Type), lengthLeft_(framing.Length) {
  if (kind_ == BodyFraming::Kind::None ||
      (kind_ == BodyFraming::Kind::Length && lengthLeft_ == 0)) {
    state_ = State::Complete;
  }
}

BodyEnd::State BodyEnd::Feed(std::string_view bytes, std::size_t& used,
                             const std::function<void(std::string_view)>& onData) {
  used = 0;
  if (state_ != State::NeedMore) return state_;
  if (kind_ == BodyFraming::Kind::Length) {
    used = static_cast<std::size_t>(std::min<std::uint64_t>(bytes.size(), lengthLeft_));
    lengthLeft_ -= used;
    if (onData && used > 0) onData(bytes.substr(0, used));
    if (lengthLeft_ == 0) state_ = State::Complete;
    return state_;
  }
  while (used < bytes.size() && state_ == State::NeedMore) {
    if (step_ == Step::Data) {
      // Chunk data is taken in one piece, not byte by byte.
      const std::size_t take =
          static_cast<std::size_t>(std::min<std::uint64_t>(bytes.size() - used, chunkLeft_));
      chunkLeft_ -= take;
      if (onData && take > 0) onData(bytes.substr(used, take));
      used += take;
      if (chunkLeft_ == 0) step_ = Step::DataCr;
      continue;
    }
    if (!FeedChunked(bytes[used])) state_ = State::Malformed;
    ++used;
  }
  return state_;
}

// One byte of the chunk framing (everything but the data); false when it cannot be there.
bool BodyEnd::FeedChunked(char c) {
  switch (step_) {
    case Step::Size: {
      const int digit = HexValue(c);
      if (digit >= 0 && sizeDigits_ < kMaxChunkSizeDigits) {
        chunkLeft_ = chunkLeft_ * 16 + static_cast<std::uint64_t>(digit);
        ++sizeDigits_;
        return true;
      }
      if (sizeDigits_ == 0) return false;
      if (c == ';' || c == ' ' || c == '\t') {
        step_ = Step::Extension;
        return true;
      }
      if (c != '\r') return false;
      step_ = Step::SizeEnd;
      return true;
    }
    case Step::Extension:
      if (c == '\r') step_ = Step::SizeEnd;
      return c != '\n';
    case Step::SizeEnd:
      if (c != '\n') return false;
      sizeDigits_ = 0;
      step_ = chunkLeft_ == 0 ? Step::TrailerStart : Step::Data;
      return true;
    case Step::Data:
      return false;  // handled by Feed
    case Step::DataCr:
      step_ = Step::DataLf;
      return c == '\r';
    case Step::DataLf:
      step_ = Step::Size;
      return c == '\n';
    case Step::TrailerStart:
      step_ = c == '\r' ? Step::LastLf : Step::Trailer;
      return c != '\n';
    case Step::Trailer:
      if (c == '\r') step_ = Step::TrailerEnd;
      return c != '\n';
    case Step::TrailerEnd:
      step_ = Step::TrailerStart;
      return c == '\n';
    case Step::LastLf:
      if (c != '\n') return false;
      state_ = State::Complete;
      return true;
  }
  return false;
}

}  // namespace tenvar::http
