// Gets the request to the next hop: checks the dial-up line when dialling on demand,
// chooses the upstream proxy or the origin server, connects and sends the whole request;
// or, for CONNECT, connects to the site and hands both sockets to the tunnel relay.
#pragma once

#include <chrono>
#include <string_view>

#include "http/http_session.h"
#include "http/session_context.h"

namespace tenvar::http {

// The proxy has no connect time-out of its own beyond what a person would wait.
inline constexpr std::chrono::seconds kConnectTimeout(60);

inline constexpr std::string_view kConnectEstablished =
    "HTTP/1.0 200 Connection established\r\nProxy-Agent: Lindqvale Tenvar\r\n\r\n";

inline constexpr std::string_view kConnectingText =
    "Connecting to the Internet, please try again shortly";

// The answer to a CONNECT or a request whose server (or upstream proxy) cannot be reached.
inline constexpr const char* kConnectFailedText =
    "There was an error connecting to the server %s on port %d.\r\n";

// Dial on demand: true when the line is up or not dialled; otherwise dialling has started
// and the browser has been asked to try again shortly.
bool EnsureLineIsUp(SessionContext& context, HttpSession& session);

// True when ServerSocket is connected and the whole request was sent; otherwise the browser
// has been told what went wrong where there is something to tell.
bool ConnectAndSend(SessionContext& context, HttpSession& session);

// Connects to the CONNECT target in session.Host and session.Port, tells the browser, and
// hands both sockets to the tunnel relay; the browser hears a 502 when the site cannot be
// reached.
void OpenTunnel(SessionContext& context, HttpSession& session);

}  // namespace tenvar::http
