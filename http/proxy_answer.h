// The answers the proxy writes itself (try again later, unknown server, failed tunnel): a
// status line and headers around the fixed text, so that browsers show the text.
#pragma once

#include <chrono>
#include <string>
#include <string_view>

#include "platform/exit_event.h"

namespace tenvar::http {

// "HTTP/1.0 <status>" with Content-Type, Content-Length and Connection: close, then body.
std::string ProxyAnswer(std::string_view status, std::string_view body);

// Sends ProxyAnswer; 0 when all was sent, -1 otherwise, also when the browser took nothing
// for `stallLimit`.
int SendProxyAnswer(int socket, std::string_view status, std::string_view body,
                    const platform::ExitEvent& exitEvent,
                    std::chrono::milliseconds stallLimit = std::chrono::seconds(120));

}  // namespace tenvar::http
