#include "http/request_policy.h"

#include <chrono>

#include "http/proxy_answer.h"
#include "http/server_connection.h"
#include "http/session_log.h"
#include "http/session_send.h"
#include "platform/name_lookups.h"
#include "platform/send.h"
#include "platform/socket.h"

namespace tenvar::http {
namespace {

// The proxy has no connect time-out of its own beyond what a person would wait.
constexpr std::chrono::seconds kConnectTimeout(60);

bool Refuse(SessionContext& context, HttpSession& session) {
  SendToBrowser(context, session, kForbiddenAnswer);
  return false;
}

// The instance's trusted sites and block file over one request; `url` is what the trusted
// sites are matched against and learned from. True when the request may go on.
bool IsAllowed(HttpSession& session, const std::optional<std::string>& referer,
               const std::string& url, const std::string& path) {
  config::HttpProxyConfig& instance = *session.Config;
  const std::shared_ptr<const config::ListFile::Contents> trusted =
      instance.TrustedSitesList.LoadContents();
  if (!trusted->Empty()) {
    if (!IsTrusted(*trusted->FromFile, referer, url, trusted->Learned())) return false;
    // Pages reached from a trusted page are trusted in turn.
    instance.TrustedSitesList.AppendIfMissing(url);
  }
  return instance.Blocking.IsBlocked(session.Host, path, *session.Options) == 0;
}

bool SetUpTunnel(SessionContext& context, HttpSession& session,
                 const std::optional<std::string>& referer) {
  const std::optional<ConnectTarget> target = ParseConnectTarget(session.Url);
  if (!target) return false;
  session.Host = target->Host;
  session.Port = target->Port;
  // An HTTPS site is judged like a page of it: "host:port" stands for the URL.
  if (!IsAllowed(session, referer, session.Host + ":" + std::to_string(session.Port), "/")) {
    return Refuse(context, session);
  }

  const std::optional<platform::Resolution> found =
      platform::ResolveIPv4Until(session.Host, context.Exit);
  if (!found) return false;  // shutting down
  const platform::Resolution& resolution = *found;
  if (!resolution.Address) {
    SendProxyAnswer(session.BrowserSocket.Get(), "502 Bad Gateway",
                    Format("Cannot resolve server name %s: %ld", session.Host.c_str(),
                           static_cast<long>(resolution.Error)),
                    context.Exit, context.SendStallLimit);
    return false;
  }
  int error = 0;
  platform::UniqueFd server;
  if (session.Port > 0 && session.Port <= 65535) {
    server = platform::StartConnect(*resolution.Address, static_cast<std::uint16_t>(session.Port),
                                    error);
  }
  if (!server.Valid() ||
      !platform::ConnectWithin(server.Get(), kConnectTimeout, context.Exit.Fd(), error)) {
    SendProxyAnswer(
        session.BrowserSocket.Get(), "502 Bad Gateway",
        Format(kConnectFailedText, session.Host.c_str(), static_cast<int>(session.Port)),
        context.Exit, context.SendStallLimit);
    return false;
  }
  // Bytes the browser sent after its CONNECT header block belong to the tunnel already.
  if (!SendToBrowser(context, session, kConnectEstablished)) return false;
  if (!platform::SendWithin(server.Get(), session.RequestBodyStart, context.Exit,
                            context.SendStallLimit)) {
    LogSendFailure(context, session, "server");
    return false;
  }
  // From here on the connection belongs to the relay, not to this session.
  context.HandOverTunnel(std::move(session.BrowserSocket), std::move(server));
  return false;
}

}  // namespace

bool AnalyseRequest(SessionContext& context, HttpSession& session) {
  const std::optional<RequestLine> line = ParseRequestLine(session.RequestBuffer);
  if (!line) return false;
  const std::optional<std::string> referer = RefererOf(session.RequestBuffer);
  session.Method = line->Method;
  session.Url = line->Url;
  session.HttpVersion = line->HttpVersion;
  session.Code = MethodCodeOf(session.Method);
  if (session.Code == MethodCode::Connect) return SetUpTunnel(context, session, referer);

  const std::string viaName = ViaName(session.Options->Port);
  if (HasPassedThrough(session.RequestBuffer, viaName)) {
    LogActivity(context, session, Format("HTTP: Loop detected for %s", session.Url.c_str()));
    SendProxyAnswer(session.BrowserSocket.Get(), "508 Loop Detected",
                    "This request came back to the proxy that sent it: check the upstream "
                    "proxy settings.",
                    context.Exit, context.SendStallLimit);
    return false;
  }
  const std::optional<BodyFraming> framing = BodyFramingOf(session.RequestBuffer);
  if (!framing) {
    SendProxyAnswer(session.BrowserSocket.Get(), "400 Bad Request",
                    "The length of the request body is invalid.", context.Exit,
                    context.SendStallLimit);
    return false;
  }
  session.RequestFraming = *framing;

  const std::optional<UrlParts> url = ParseUrl(session.Url);
  if (!url) return false;
  session.Scheme = url->Scheme;
  session.Kind = url->Kind;
  if (session.Kind == UrlKind::Other) return true;  // counted, then dropped by the pipeline
  session.Host = url->Host;
  session.Port = url->Port;
  session.Path = url->Path;
  if (session.Host.empty()) return false;
  if (session.Kind == UrlKind::Ftp) {
    session.FtpUser = url->FtpUser;
    session.FtpPassword = url->FtpPassword;
    return true;
  }

  if (!IsAllowed(session, referer, session.Url, session.Path)) return Refuse(context, session);

  session.ViaUpstream = session.Options->UseUpstream;
  if (session.ViaUpstream) {
    const std::string requestLine = line->Method + " " + line->Url + " " + line->HttpVersion;
    if (IsUpstreamExcluded(*session.Config->UpstreamExclusionsList.Load(), requestLine)) {
      session.ViaUpstream = false;
    }
  }
  std::string& request = session.RequestBuffer;
  if (!session.ViaUpstream) request = RewriteForOrigin(*line, session.Path, request);
  // The proxy answers "100 Continue" itself once the server is reached. Passed on, the
  // expectation would bring the server's own interim answer, ahead of the real one.
  session.ExpectsContinue = session.RequestFraming.Type != BodyFraming::Kind::None &&
                            ExpectsContinue(request, session.HttpVersion);
  if (session.ExpectsContinue) request = WithoutHeader(request, "Expect");
  request = AddVia(request, session.HttpVersion, viaName);
  // The response is read until the server closes, so no hop may keep the connection open.
  request = ForceConnectionClose(request);
  return true;
}

}  // namespace tenvar::http
