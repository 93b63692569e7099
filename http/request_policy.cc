#include "http/request_policy.h"

#include <memory>
#include <string>

namespace tenvar::http {
namespace {

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

}  // namespace

RequestAction AnalyseRequest(HttpSession& session) {
  const std::optional<RequestLine> line = ParseRequestLine(session.RequestBuffer);
  if (!line) return RequestAction::Drop;
  const std::optional<std::string> referer = RefererOf(session.RequestBuffer);
  session.Method = line->Method;
  session.Url = line->Url;
  session.HttpVersion = line->HttpVersion;
  session.Code = MethodCodeOf(session.Method);
  if (session.Code == MethodCode::Connect) {
    const std::optional<ConnectTarget> target = ParseConnectTarget(session.Url);
    if (!target) return RequestAction::Drop;
    session.Host = target->Host;
    session.Port = target->Port;
    // An HTTPS site is judged like a page of it: "host:port" stands for the URL.
    const std::string site = session.Host + ":" + std::to_string(session.Port);
    return IsAllowed(session, referer, site, "/") ? RequestAction::Tunnel : RequestAction::Refuse;
  }

  const std::string viaName = ViaName(session.Options->Port);
  if (HasPassedThrough(session.RequestBuffer, viaName)) return RequestAction::Loop;
  const std::optional<BodyFraming> framing = BodyFramingOf(session.RequestBuffer);
  if (!framing) return RequestAction::BadBodyLength;
  session.RequestFraming = *framing;

  const std::optional<UrlParts> url = ParseUrl(session.Url);
  if (!url) return RequestAction::Drop;
  session.Scheme = url->Scheme;
  session.Kind = url->Kind;
  if (session.Kind == UrlKind::Other) return RequestAction::OtherScheme;
  session.Host = url->Host;
  session.Port = url->Port;
  session.Path = url->Path;
  if (session.Host.empty()) return RequestAction::Drop;
  if (session.Kind == UrlKind::Ftp) {
    session.FtpUser = url->FtpUser;
    session.FtpPassword = url->FtpPassword;
    return RequestAction::FetchFtp;
  }

  if (!IsAllowed(session, referer, session.Url, session.Path)) return RequestAction::Refuse;

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
  return RequestAction::Forward;
}

}  // namespace tenvar::http
