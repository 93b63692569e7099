// The life of one browser connection: refresh the configuration, read and analyse the
// request, fetch it, relay the answer, test it for abuse keywords and log it. Runs on the
// session's own thread and owns the session throughout.
#pragma once

#include "http/http_session.h"
#include "http/session_context.h"

namespace tenvar::http {

void RunHttpSession(SessionContext& context, HttpSession session);

// The first keyword of the list that occurs in the URL or in the body, or nothing.
std::optional<std::string> FindAbuseKeyword(const std::vector<std::string>& keywords,
                                            std::string_view url, std::string_view body);

}  // namespace tenvar::http
