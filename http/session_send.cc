#include "http/session_send.h"

#include <chrono>
#include <string>

#include "http/session_log.h"
#include "platform/send.h"

namespace tenvar::http {

void LogSendFailure(const SessionContext& context, const HttpSession& session,
                    std::string_view peer) {
  if (context.Exit.IsSignalled()) return;
  const auto seconds = std::chrono::duration<double>(context.SendStallLimit).count();
  LogDebug(context, session,
           "The %s took nothing for %g s or went away, ending the session",
                  std::string(peer).c_str(), seconds);
}

bool SendToBrowser(const SessionContext& context, const HttpSession& session,
                   std::string_view bytes) {
  if (platform::SendWithin(session.BrowserSocket.Get(), bytes, context.Exit,
                           context.SendStallLimit)) {
    return true;
  }
  LogSendFailure(context, session, "browser");
  return false;
}

bool SendToServer(const SessionContext& context, const HttpSession& session,
                  std::string_view bytes) {
  if (platform::SendWithin(session.ServerSocket.Get(), bytes, context.Exit,
                           context.SendStallLimit)) {
    return true;
  }
  LogSendFailure(context, session, "server");
  return false;
}

}  // namespace tenvar::http
