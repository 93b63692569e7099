#include "http/session_pipeline.h"

#include <ctime>

#include "http/request_log.h"
#include "http/request_reader.h"
#include "http/response_reader.h"
#include "http/server_connection.h"
#include "http/session_log.h"

namespace tenvar::http {
namespace {

void CheckAndLog(SessionContext& context, HttpSession& session) {
  std::optional<std::string> keyword;
  if (session.Options->AbuseDetection) {
    keyword = FindAbuseKeyword(*session.Config->AbuseKeywordsList.Load(), session.Url,
                               session.ResponseBuffer);
  }
  if (!session.Options->RequestsLog.empty()) {
    WriteRequestLog(session.Options->RequestsLog, context.LogLock,
                    RequestLogLine(std::time(nullptr), keyword.value_or(""),
                                   context.FindLanClient(session.ClientAddress),
                                   session.ClientAddress, session.Url));
  }
  if (keyword) context.SendAbuseAlert();
}

}  // namespace

std::optional<std::string> FindAbuseKeyword(const std::vector<std::string>& keywords,
                                            std::string_view url, std::string_view body) {
  for (const std::string& keyword : keywords) {
    if (url.find(keyword) != std::string_view::npos ||
        body.find(keyword) != std::string_view::npos) {
      return keyword;
    }
  }
  return std::nullopt;
}

void RunHttpSession(SessionContext& context, HttpSession session) {
  if (context.Exit.IsSignalled()) return;
  session.Config->RefreshListFiles(context.Config);
  session.Options = session.Config->Options();
  if (!ReadRequest(context, session)) return;
  ++context.RequestCount;

  // ftp:// items and other schemes are not fetched here; the connection just closes.
  if (session.Kind != UrlKind::Http) return;

  LogDebug(context, session,
           Format("Ready to go, about to establish connection to %s", session.Host.c_str()));
  if (!ConnectAndSend(context, session)) return;
  if (ReadResponse(context, session, /*relay=*/true) == -1) return;
  CheckAndLog(context, session);
}

}  // namespace tenvar::http
