// The origin's header fields kept beside a cached item, with what the cache needs to judge
// the item's age, in a small text file a person can read:
//
//   Stored-At: 1765070000          when the answer (or the 304 that confirmed it) arrived
//   Initial-Age: 3                 its age on arrival (RFC 9111 §4.2.3)
//   Lifetime: 600                  the origin's explicit lifetime; absent when it gave none
//   Body-Bytes: 5120               the body file this header file belongs to: its size and
//   Body-Inode: 1234567            its inode, so a body and a header file from two different
//                                  stores are never served together
//
//   Content-Type: text/html        the origin's end-to-end fields, as they came
//   ...
#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>

namespace tenvar::cache {

struct KeptHeaders {
  std::time_t StoredAt = 0;
  std::int64_t InitialAge = 0;
  std::optional<std::int64_t> Lifetime;
  std::uint64_t BodyBytes = 0;
  std::uint64_t BodyInode = 0;
  std::string Fields;  // "Name: value\r\n" lines

  // The item's age at `now`.
  std::int64_t AgeAt(std::time_t now) const;
  // Whether the origin's lifetime has run out at `now`; an item without one never does
  // (CacheExpiry alone ends it).
  bool StaleAt(std::time_t now) const { return Lifetime && AgeAt(now) >= *Lifetime; }
};

std::string FormatKeptHeaders(const KeptHeaders& headers);
// Nothing when the text is not such a file.
std::optional<KeptHeaders> ParseKeptHeaders(std::string_view text);

}  // namespace tenvar::cache
