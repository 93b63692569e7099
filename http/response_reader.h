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

struct ResponseOutcome {
  enum class Result {
    Relayed,    // the server's answer went to the browser to its end
    NoAnswer,   // the session ended before the server's header block was complete
    BrokenOff,  // the answer stopped after its header block (server, browser or shut-down),
                // or its status line held no code
  };
  Result End;
  int Status = 0;  // the server's status code, once its header block was read
};

// Relays the server's answer. A body the cache may keep is written to session.CacheItem as
// it passes, and searched by session.AbuseScan if set. With `holdNotModified`, a 304 is not
// relayed (the proxy answers it from the cache); any other answer is.
ResponseOutcome ReadResponse(SessionContext& context, HttpSession& session,
                             bool holdNotModified = false);

}  // namespace tenvar::http
