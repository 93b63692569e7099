// The instance's policy over an analysed request: trusted sites, blocking, the upstream
// choice and the form the request is forwarded in; and CONNECT, which becomes a tunnel.
#pragma once

#include "http/http_session.h"
#include "http/session_context.h"

namespace tenvar::http {

inline constexpr std::string_view kForbiddenAnswer =
    "HTTP/1.1 403 Forbidden\r\nContent-type: text/html\r\nCache-control: no-cache\r\n\r\n"
    "You are not allowed to view this URL.";
inline constexpr std::string_view kConnectEstablished =
    "HTTP/1.0 200 Connection established\r\nProxy-Agent: Lindqvale Tenvar\r\n\r\n";

// True when the pipeline goes on with the request; false when the session ends (malformed,
// refused and answered, or a CONNECT handed to the tunnel relay or answered).
bool AnalyseRequest(SessionContext& context, HttpSession& session);

}  // namespace tenvar::http
