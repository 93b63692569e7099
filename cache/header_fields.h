// Reading and trimming HTTP header fields as the cache keeps them: lines of "Name: value"
// separated by CR LF. Pure functions; safe from any thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tenvar::cache {

// The value of the field `name` (any case) in `block`; repeated fields are joined with ", "
// as RFC 9110 §5.3 allows. Nothing when the field is absent.
std::optional<std::string> FieldValue(std::string_view block, std::string_view name);

// Whether the comma-separated `list` (a Cache-Control or Vary value, say) holds `token` in
// any case, with or without an "=argument".
bool HasToken(std::string_view list, std::string_view token);

// The number after "token=" in `list` (quotes allowed); nothing when absent or not a number.
std::optional<std::int64_t> TokenSeconds(std::string_view list, std::string_view token);

// The fields of a response head worth keeping with an item: all but the status line, the
// hop-by-hop ones (Connection and those it names, Keep-Alive, Transfer-Encoding, TE,
// Trailer, Upgrade, Proxy-*) and Content-Length and Age, which a hit states afresh.
std::string EndToEndFields(std::string_view responseHead);

// `kept` with every field that `update` carries replaced by the update's lines (a 304's
// fields refresh the stored ones, RFC 9111 §3.2), except those that describe the stored
// body's bytes (ETag, Content-Encoding, -Range, -MD5), which stay as stored.
std::string MergeFields(std::string_view kept, std::string_view update);

}  // namespace tenvar::cache
