// How a message body is delimited (RFC 9112 §6): read from a request's header block, and
// followed through the body's bytes as they stream past, so the proxy forwards exactly the
// body and never has to hold it; the same follower takes a chunked answer's data out of its
// framing for the cache. Pure; owned by one session thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string_view>

namespace tenvar::http {

struct BodyFraming {
  enum class Kind { None, Length, Chunked };
  Kind Type = Kind::None;
  std::uint64_t Length = 0;  // for Kind::Length
};

// The framing a request's header block declares; nothing when it cannot be trusted: both
// Content-Length and Transfer-Encoding, a coding list that does not end in chunked, an
// invalid or contradictory length, or white space before a field's colon. Each of these is
// a way to make two parties disagree on where the body ends, so the request is refused.
std::optional<BodyFraming> BodyFramingOf(std::string_view head);

// Whether an HTTP/1.1 request asks for "100 Continue" before it sends its body.
bool ExpectsContinue(std::string_view head, std::string_view httpVersion);

// Follows a body through its bytes and tells where it ends.
class BodyEnd {
 public:
  enum class State { NeedMore, Complete, Malformed };

  explicit BodyEnd(BodyFraming framing);

  // Takes the next bytes of the stream; `used` is how many of them belong to the body (all,
  // unless the body completes among them). `onData`, if given, is handed the body's data
  // without its chunk framing, in pieces as they come.
  State Feed(std::string_view bytes, std::size_t& used,
             const std::function<void(std::string_view)>& onData = {});

  State Current() const { return state_; }

  // Bytes still to come of a Content-Length body; how much to read next is never more.
  std::uint64_t LengthLeft() const { return lengthLeft_; }

 private:
  enum class Step {
    Size,
    Extension,
    SizeEnd,
    Data,
    DataCr,
    DataLf,
    TrailerStart,
    Trailer,
    TrailerEnd,
    LastLf
  };

  bool FeedChunked(char c);

  BodyFraming::Kind kind_;
  State state_ = State::NeedMore;
  std::uint64_t lengthLeft_ = 0;
  Step step_ = Step::Size;
  std::uint64_t chunkLeft_ = 0;
  int sizeDigits_ = 0;
};

}  // namespace tenvar::http
