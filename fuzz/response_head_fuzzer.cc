// A server's response head through ParseResponseHead, and date texts through ParseHttpDate:
// any date read back is written and read again to the same time.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz/fuzz_input.h"
#include "http/http_date.h"
#include "http/response_header.h"

namespace {

using tenvar::fuzz::Require;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace tenvar::http;
  const std::string_view text(reinterpret_cast<const char*>(data), size);

  if (const std::optional<ResponseHead> head = ParseResponseHead(text)) {
    Require(head->HeaderLength >= 4 && head->HeaderLength <= text.size(),
            "the header length lies inside the input");
    Require(text.substr(head->HeaderLength - 4, 4) == "\r\n\r\n",
            "the header block ends with its blank line");
    Require(!head->HasContentLength || head->ContentLength <= 0xffffffffu,
            "a content length fits in 32 bits");
  }

  if (const std::optional<std::time_t> time = ParseHttpDate(text)) {
    const std::string written = FormatHttpDate(*time);
    Require(!written.empty(), "a date that was read can be written");
    const std::optional<std::time_t> again = ParseHttpDate(written);
    Require(again && *again == *time, "a written date reads back to the same time");
  }
  return 0;
}
