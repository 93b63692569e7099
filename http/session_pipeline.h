// The life of one browser connection: refresh the configuration, read and analyse the
// request, fetch it, relay the answer (searching it for abuse keywords as it passes) and log
// it. Runs on the session's own thread and owns the session throughout.
#pragma once

#include "http/http_session.h"
#include "http/session_context.h"

namespace tenvar::http {

void RunHttpSession(SessionContext& context, HttpSession session);

}  // namespace tenvar::http
