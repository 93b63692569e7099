#include "http/server_connection.h"

#include <cerrno>
#include <chrono>

#include "http/proxy_answer.h"
#include "http/session_log.h"
#include "platform/send.h"
#include "platform/socket.h"

namespace tenvar::http {
namespace {

constexpr std::chrono::seconds kConnectTimeout(60);

}  // namespace

bool EnsureLineIsUp(SessionContext& context, HttpSession& session) {
  if (!context.Config.Settings.Load()->Dial) {
    LogDebug(context, session, "Not using dialup connection, ready to go");
    return true;
  }
  LogDebug(context, session, "Using Dial-up Networking to connect to Internet");
  context.Dial.CheckConnected();
  if (context.Dial.State() == dialup::ConnectionState::Connected) {
    LogDebug(context, session, "Connection already established, using it");
    return true;
  }
  context.Dial.EnsureConnected();
  LogDebug(context, session, "Establishing connection");
  session.ResponseBuffer = kConnectingText;
  session.Cacheable = false;
  SendProxyAnswer(session.BrowserSocket.Get(), "503 Service Unavailable", kConnectingText,
                  context.Exit);
  return false;
}

bool ConnectAndSend(SessionContext& context, HttpSession& session) {
  LogDebug(context, session, "Sending request to server");
  if (!EnsureLineIsUp(context, session)) return false;

  const config::HttpProxyOptions& options = *session.Options;
  std::string target = session.Host;
  int port = session.Port;
  if (session.ViaUpstream) {
    LogActivity(context, session,
                Format("HTTP: Contacting upstream proxy about %s%s (%s:%d)", session.Host.c_str(),
                       session.Path.c_str(), options.UpstreamProxyName.c_str(),
                       static_cast<int>(options.UpstreamProxyPort)));
    target = options.UpstreamProxyName;
    port = options.UpstreamProxyPort;
  } else {
    LogActivity(context, session,
                Format("HTTP: Contacting web server about %s%s", session.Host.c_str(),
                       session.Path.c_str()));
  }

  platform::Resolution resolution = platform::ResolveIPv4(target);
  if (!resolution.Address) resolution = platform::ResolveIPv4(target);
  if (!resolution.Address) {
    session.ResponseBuffer = Format("Cannot resolve server name %s: %ld", target.c_str(),
                                    static_cast<long>(resolution.Error));
    LogDebug(context, session, Format("Cannot resolve server name for %s", target.c_str()));
    session.Cacheable = false;
    SendProxyAnswer(session.BrowserSocket.Get(), "502 Bad Gateway", session.ResponseBuffer,
                    context.Exit);
    return false;
  }

  LogDebug(context, session, Format("Connecting to %s on %d", target.c_str(), port));
  int error = EINVAL;
  if (port > 0 && port <= 65535) {
    session.ServerSocket =
        platform::StartConnect(*resolution.Address, static_cast<std::uint16_t>(port), error);
  }
  if (!session.ServerSocket.Valid() ||
      !platform::ConnectWithin(session.ServerSocket.Get(), kConnectTimeout, context.Exit.Fd(),
                               error)) {
    LogDebug(context, session, Format("!! - connect returned an error: %ld", long{error}));
    return false;
  }

  const int sent = platform::SendBuffer(session.ServerSocket.Get(), session.RequestBuffer.data(),
                                        session.RequestBuffer.size(), context.Exit);
  std::string().swap(session.RequestBuffer);
  return sent == 0;
}

}  // namespace tenvar::http
