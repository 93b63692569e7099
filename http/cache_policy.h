// What the shared cache may keep, for how long, and for whom, following RFC 9111's rules
// for a shared cache: answers meant for one user stay out, the origin's lifetime caps the
// item's, and a coded item goes only to browsers that can decode it. Pure functions over
// header blocks; safe from any thread.
#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>

#include "cache/kept_headers.h"

namespace tenvar::http {

// The fields of a request that the cache judges by (Authorization, Cookie, Cache-Control,
// Pragma, Accept-Encoding, If-None-Match, If-Modified-Since), as header lines: kept once the
// request itself has been sent.
std::string RequestFieldsForCache(std::string_view request);

// Why the answer to `requestHead` must not be kept in the shared cache (the event-log line),
// or nothing when it may. Status, method and no-cache/no-store are judged elsewhere.
std::optional<std::string_view> SharedStoreRefusal(std::string_view requestHead,
                                                   std::string_view responseHead,
                                                   std::time_t responseTime);

// The origin's explicit freshness lifetime in seconds: s-maxage, else max-age, else
// Expires − Date (an unreadable Expires is already stale). Nothing when it gave none.
std::optional<std::int64_t> FreshnessLifetime(std::string_view responseHead,
                                              std::time_t responseTime);

// The fields and ages kept beside an item stored from `responseHead`, which arrived at
// `responseTime`.
cache::KeptHeaders KeepHeaders(std::string_view responseHead, std::time_t responseTime);

// `kept` refreshed by a 304 that arrived at `responseTime`.
cache::KeptHeaders RefreshKeptHeaders(const cache::KeptHeaders& kept,
                                      std::string_view notModifiedHead, std::time_t responseTime);

// `request` asking the server to confirm the kept item by its ETag as well (If-None-Match
// right after the request line, in place of the browser's own); unchanged when the item has
// none.
std::string WithEntityTagCondition(std::string_view request, std::string_view keptFields);

// The browser asks for the server's own answer: Cache-Control no-cache or max-age=0, or
// Pragma no-cache.
bool IsForcedReload(std::string_view requestHead);

// Whether a browser that sent `requestHead` can take an item with `keptFields`: true for an
// item without a content coding, else only when Accept-Encoding names every coding it has.
bool AcceptsItemCoding(std::string_view requestHead, std::string_view keptFields);

// The path a Location or Content-Location value names on the server `host`:`port` (an
// absolute http URL there, or an absolute path); nothing for another server or another form.
std::optional<std::string> SameOriginPath(std::string_view target, std::string_view host,
                                          std::int32_t port);

// Whether the browser's conditional request (If-None-Match, else If-Modified-Since) says
// its own copy is the kept item, so that a 304 answers it (RFC 9110 §13.2.2).
bool BrowserHasItem(std::string_view requestFields, std::string_view keptFields,
                    std::time_t lastModified);

}  // namespace tenvar::http
