// What the proxy needs from the head of a server's response: the status, the body's length,
// the item's time for the cache and whether the server forbids caching. Pure function; safe
// from any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <optional>
#include <string_view>

namespace tenvar::http {

// How the body travels: as it is, in chunks, or under a coding the proxy does not undo.
enum class TransferCoding { None, Chunked, Other };

struct ResponseHead {
  int Status = -1;  // -1 when the status line holds no space
  std::uint32_t ContentLength = 0;
  bool HasContentLength = false;
  std::optional<std::time_t> ItemTime;  // Last-Modified, else Date; nothing when neither reads
  bool NoCache = false;
  TransferCoding Coding = TransferCoding::None;
  std::size_t HeaderLength = 0;  // bytes up to and including the blank line
};

// Reads the response head once its blank line ("\r\n\r\n") has arrived; nothing before.
// Header names are matched in any case at line starts. A Content-Length without digits or
// beyond 32 bits counts as absent.
std::optional<ResponseHead> ParseResponseHead(std::string_view received);

}  // namespace tenvar::http
