// Reads the server's answer: relays each block to the browser as it arrives, parses the
// header block once it is complete, and hands the body to the cache and the keyword search
// as it passes. Memory is one block whatever the answer's size.
#pragma once

#include <cstddef>

#include "http/http_session.h"
#include "http/session_context.h"

namespace tenvar::http {

// A server silent for this long ends its session.
inline constexpr int kServerSilenceSeconds = 15 * 60;
// A server's header block larger than this ends its session, as a browser's does.
inline constexpr std::size_t kMaxResponseHeaderBytes = 64 * 1024;

// The status code of the response, or -1 on failure, exit, a browser that stopped taking the
// answer, or a server that closed before a complete header block. A body the cache may keep
// is written to session.CacheItem as it passes, and searched by session.AbuseScan if set.
// With `holdNotModified`, a 304 is not relayed (the proxy answers it from the cache); any
// other answer is.
int ReadResponse(SessionContext& context, HttpSession& session, bool holdNotModified = false);

}  // namespace tenvar::http
