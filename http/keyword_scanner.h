// The abuse-keyword search over an answer as it streams past: each block is searched as it
// is relayed, and the last bytes of one block are kept to be searched with the start of the
// next, so a keyword split between two blocks is still found. Memory is the longest keyword,
// whatever the answer's size. Owned by one session thread; not thread-safe.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tenvar::http {

class KeywordScanner {
 public:
  // Empty keywords are never found: a blank line in the list matches nothing.
  explicit KeywordScanner(std::vector<std::string> keywords);

  // Searches a text of its own, such as the URL: it is not joined to the stream.
  void ScanWhole(std::string_view text);
  // Searches the stream's next block.
  void Feed(std::string_view block);
  // The first keyword of the list found so far, in the list's order.
  std::optional<std::string> Found() const;
  // Whether the stream still needs searching: false once the list's first keyword is found
  // (nothing can come before it), or when there is nothing to find.
  bool WantsMore() const;

 private:
  void Search(std::string_view text);

  std::vector<std::string> keywords_;
  std::vector<bool> found_;
  std::size_t overlap_ = 0;  // the longest keyword less one byte
  std::string tail_;         // the stream's last `overlap_` bytes
};

}  // namespace tenvar::http
