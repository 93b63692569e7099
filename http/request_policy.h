// The instance's policy over a request's header block: what the session does with it
// (refuse it, tunnel it, fetch it from an FTP server, forward it to the next hop), the
// trusted sites, blocking, the upstream choice and the form the request is forwarded in.
// Decides only: sockets, name look-ups and answers are the pipeline's.
#pragma once

#include "http/http_session.h"

namespace tenvar::http {

inline constexpr std::string_view kForbiddenAnswer =
    "HTTP/1.1 403 Forbidden\r\nContent-type: text/html\r\nCache-control: no-cache\r\n\r\n"
    "You are not allowed to view this URL.";

enum class RequestAction {
  Drop,           // malformed, or without a host: the connection just closes
  Refuse,         // not trusted, or blocked: kForbiddenAnswer
  BadBodyLength,  // a body whose end peers could read two ways: 400
  Loop,           // the request came back to this proxy: 508
  Tunnel,         // CONNECT to session.Host:session.Port
  OtherScheme,    // counted, then the connection closes
  FetchFtp,       // an ftp:// item
  Forward,        // an http:// request, rewritten for the next hop in RequestBuffer
};

// Reads the request line and URL into the session, judges them by the instance's policy
// (trusted sites learn the URL as a side effect) and says what comes next.
RequestAction AnalyseRequest(HttpSession& session);

}  // namespace tenvar::http
