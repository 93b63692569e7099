// The session's sends to its browser and its server, each bounded by the context's stall
// limit. A send that fails or stalls ends the session: the caller returns, and the sockets
// close with the session.
#pragma once

#include <string_view>

#include "http/http_session.h"
#include "http/session_context.h"

namespace tenvar::http {

// False (with a diagnostic line) when the browser took nothing for the stall limit, went
// away, or the program is exiting.
bool SendToBrowser(const SessionContext& context, const HttpSession& session,
                   std::string_view bytes);
bool SendToServer(const SessionContext& context, const HttpSession& session,
                  std::string_view bytes);

// Logs why a send to `peer` ("browser" or "server") ended the session; nothing at exit.
void LogSendFailure(const SessionContext& context, const HttpSession& session,
                    std::string_view peer);

}  // namespace tenvar::http
