// A browser's request bytes through every analysis and rewrite the proxy makes before it
// forwards a request.
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

#include "fuzz/fuzz_input.h"
#include "http/request_analysis.h"

namespace {

using tenvar::fuzz::FuzzInput;
using tenvar::fuzz::Require;

bool EndsWith(std::string_view text, std::string_view suffix) {
  return text.size() >= suffix.size() && text.substr(text.size() - suffix.size()) == suffix;
}

// Both rewrites keep every byte from the header block's end on, and leave an incomplete
// request alone.
void CheckKeepsTheRest(std::string_view request, const std::string& rewritten,
                       const char* what) {
  const std::size_t headEnd = request.find("\r\n\r\n");
  if (headEnd == std::string_view::npos) {
    Require(rewritten == request, what);
  } else {
    Require(EndsWith(rewritten, request.substr(headEnd)), what);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace tenvar::http;
  FuzzInput input(data, size);
  // Up to about 10000 years either way: every time a cache item can carry.
  const auto itemTime = static_cast<std::time_t>(input.TakeNumber() % 631152000000ull) -
                        static_cast<std::time_t>(315576000000ll);
  const std::string_view entry = input.TakePiece();
  const std::string_view request = input.Rest();

  const std::optional<RequestLine> line = ParseRequestLine(request);
  const std::optional<std::string> referer = RefererOf(request);
  const std::vector<std::string> entries = {std::string(entry)};
  if (line) {
    MethodCodeOf(line->Method);
    if (const std::optional<UrlParts> url = ParseUrl(line->Url)) {
      Require(url->Kind == UrlKind::Other || !url->Path.empty() || url->Kind == UrlKind::Ftp,
              "an http URL always has a path");
      const std::string origin = RewriteForOrigin(*line, url->Path, request);
      Require(origin.starts_with(line->Method + " " + url->Path + " "),
              "the origin form starts with the new request line");
    }
    ParseConnectTarget(line->Url);
    IsTrusted(entries, referer, line->Url);
    IsUpstreamExcluded(entries, line->Method + " " + line->Url + " " + line->HttpVersion);
  }
  ParseUrl(request);
  ParseConnectTarget(request);

  CheckKeepsTheRest(request, ForceConnectionClose(request),
                    "ForceConnectionClose keeps the body and incomplete requests");
  CheckKeepsTheRest(request, InsertIfModifiedSince(request, itemTime),
                    "InsertIfModifiedSince keeps the body and incomplete requests");
  return 0;
}
