// Reads the server's answer: relays each block to the browser as it arrives, parses the
// header block once it is complete, and keeps the body for the cache and the keyword test.
#pragma once

#include <cstddef>

#include "http/http_session.h"
#include "http/session_context.h"

namespace tenvar::http {

// A server silent for this long ends its session.
inline constexpr int kServerSilenceSeconds = 15 * 60;
// Bodies are buffered for the keyword test up to this size; the rest is relayed and cached
// but not searched.
inline constexpr std::size_t kMaxBufferedBody = 32 * 1024 * 1024;

// The status code of the response, or -1 on failure, exit or a server that closed before a
// complete header block. A body the cache may keep is written to session.CacheItem as it
// passes. With `holdNotModified`, a 304 is not relayed (the proxy answers it from the
// cache); any other answer is.
int ReadResponse(SessionContext& context, HttpSession& session, bool relay,
                 bool holdNotModified = false);

}  // namespace tenvar::http
