#include "http/request_policy.h"

#include <chrono>

#include "http/proxy_answer.h"
#include "http/session_log.h"
#include "platform/send.h"
#include "platform/socket.h"

namespace tenvar::http {
namespace {

// The proxy has no connect time-out of its own beyond what a person would wait.
constexpr std::chrono::seconds kConnectTimeout(60);

bool Refuse(SessionContext& context, HttpSession& session) {
  session.ResponseBuffer = kForbiddenAnswer;
  platform::SendString(session.BrowserSocket.Get(), kForbiddenAnswer, context.Exit);
  return false;
}

bool SetUpTunnel(SessionContext& context, HttpSession& session) {
  const std::optional<ConnectTarget> target = ParseConnectTarget(session.Url);
  if (!target) return false;
  session.Host = target->Host;
  session.Port = target->Port;

  const platform::Resolution resolution = platform::ResolveIPv4(session.Host);
  if (!resolution.Address) {
    SendProxyAnswer(session.BrowserSocket.Get(), "502 Bad Gateway",
                    Format("Cannot resolve server name %s: %ld", session.Host.c_str(),
                           static_cast<long>(resolution.Error)),
                    context.Exit);
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
    SendProxyAnswer(session.BrowserSocket.Get(), "502 Bad Gateway",
                    Format("There was an error connecting to the server %s on port %d.\r\n",
                           session.Host.c_str(), static_cast<int>(session.Port)),
                    context.Exit);
    return false;
  }
  // Bytes the browser sent after its CONNECT header block belong to the tunnel already.
  const size_t headerEnd = session.RequestBuffer.find("\r\n\r\n");
  const std::string_view early = std::string_view(session.RequestBuffer)
                                     .substr(std::min(headerEnd + 4, session.RequestBuffer.size()));
  if (platform::SendString(session.BrowserSocket.Get(), kConnectEstablished, context.Exit) != 0 ||
      platform::SendString(server.Get(), early, context.Exit) != 0) {
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
  if (session.Code == MethodCode::Connect) return SetUpTunnel(context, session);

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

  config::HttpProxyConfig& instance = *session.Config;
  const std::shared_ptr<const config::ListFile::Entries> trusted = instance.TrustedSitesList.Load();
  if (!trusted->empty()) {
    if (!IsTrusted(*trusted, referer, session.Url)) return Refuse(context, session);
    // Pages reached from a trusted page are trusted in turn.
    instance.TrustedSitesList.AppendIfMissing(session.Url);
  }
  if (instance.Blocking.IsBlocked(session.Host, session.Path, *session.Options) != 0) {
    return Refuse(context, session);
  }

  session.ViaUpstream = session.Options->UseUpstream;
  if (session.ViaUpstream) {
    const std::string requestLine = line->Method + " " + line->Url + " " + line->HttpVersion;
    if (IsUpstreamExcluded(*instance.UpstreamExclusionsList.Load(), requestLine)) {
      session.ViaUpstream = false;
    }
  }
  if (!session.ViaUpstream) {
    session.RequestBuffer = RewriteForOrigin(*line, session.Path, session.RequestBuffer);
  }
  // The response is read until the server closes, so no hop may keep the connection open.
  session.RequestBuffer = ForceConnectionClose(session.RequestBuffer);
  return true;
}

}  // namespace tenvar::http
