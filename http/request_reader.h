// The first stage of a session: read the browser's request up to the end of its header
// block, trace it, and analyse it.
#pragma once

#include "http/http_session.h"
#include "http/session_context.h"

namespace tenvar::http {

// A browser that has not completed its header block by then is dropped.
inline constexpr int kRequestHeaderSeconds = 120;
// A header block larger than this ends the session.
inline constexpr std::size_t kMaxRequestHeaderBytes = 64 * 1024;

// True when a complete request was read and the analysis let it go on.
bool ReadRequest(SessionContext& context, HttpSession& session);

}  // namespace tenvar::http
