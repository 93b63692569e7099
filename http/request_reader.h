// The first stage of a session: read the browser's request up to the end of its header
// block, and trace it.
#pragma once

#include "http/http_session.h"
#include "http/session_context.h"

namespace tenvar::http {

// A browser that has not completed its header block by then is dropped.
inline constexpr int kRequestHeaderSeconds = 120;
// A header block larger than this ends the session.
inline constexpr std::size_t kMaxRequestHeaderBytes = 64 * 1024;

// True when a complete header block is in session.RequestBuffer (the bytes after it in
// session.RequestBodyStart); false when the browser closed, stalled or sent too much.
bool ReadRequest(SessionContext& context, HttpSession& session);

}  // namespace tenvar::http
