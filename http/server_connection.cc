#include "http/server_connection.h"

#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <memory>

#include "http/proxy_answer.h"
#include "http/session_log.h"
#include "http/session_send.h"
#include "platform/name_lookups.h"
#include "platform/send.h"
#include "platform/socket.h"
#include "platform/socket_io.h"
#include "platform/wait.h"

namespace tenvar::http {
namespace {

// A browser that stops sending its body for this long ends the upload (a server that stops
// taking it is bounded by the context's stall limit, as every send is).
constexpr std::chrono::seconds kBodyStallLimit(120);
constexpr std::size_t kBodyBlock = 64 * 1024;
constexpr std::string_view kContinue = "HTTP/1.1 100 Continue\r\n\r\n";

enum class Upload { Sent, ServerStopped, BrowserFailed };

// Streams the request body from the browser to the server as it arrives, to its last byte
// and no further: one block in memory whatever the body's size.
Upload SendRequestBody(SessionContext& context, HttpSession& session) {
  const int browser = session.BrowserSocket.Get();
  BodyEnd end(session.RequestFraming);
  std::size_t used = 0;
  end.Feed(session.RequestBodyStart, used);
  if (!SendToServer(context, session, std::string_view(session.RequestBodyStart).substr(0, used))) {
    return Upload::ServerStopped;
  }
  std::string().swap(session.RequestBodyStart);
  if (end.Current() == BodyEnd::State::NeedMore && session.ExpectsContinue &&
      !SendToBrowser(context, session, kContinue)) {
    return Upload::BrowserFailed;
  }
  std::unique_ptr<char[]> block;
  while (end.Current() == BodyEnd::State::NeedMore) {
    if (platform::WaitFor(browser, POLLIN, context.Exit,
                          std::chrono::steady_clock::now() + kBodyStallLimit) !=
        platform::WaitResult::Ready) {
      LogDebug(context, session, "Browser stopped sending its request body");
      return Upload::BrowserFailed;
    }
    if (!block) block.reset(new char[kBodyBlock]);
    // A Content-Length body is read to its end and no further: what follows is not ours.
    std::size_t wanted = kBodyBlock;
    if (session.RequestFraming.Type == BodyFraming::Kind::Length) {
      wanted = static_cast<std::size_t>(std::min<std::uint64_t>(wanted, end.LengthLeft()));
    }
    const platform::SysResult got = platform::ReceiveSome(browser, {block.get(), wanted});
    if (!got.Ok() && (got.Error == EAGAIN || got.Error == EWOULDBLOCK)) continue;
    if (!got.Ok() || got.Value == 0) {
      LogDebug(context, session, "Connection closed by browser before its request body ended");
      return Upload::BrowserFailed;
    }
    const std::string_view bytes(block.get(), static_cast<std::size_t>(got.Value));
    if (end.Feed(bytes, used) == BodyEnd::State::Malformed) {
      LogDebug(context, session, "Malformed chunked request body");
      return Upload::BrowserFailed;
    }
    if (!SendToServer(context, session, bytes.substr(0, used))) {
      return Upload::ServerStopped;
    }
  }
  return end.Current() == BodyEnd::State::Complete ? Upload::Sent : Upload::BrowserFailed;
}

// Resolves `target` and connects to it; on failure the browser has been told why (unless
// the program is shutting down) and the socket is invalid.
platform::UniqueFd ConnectTo(SessionContext& context, HttpSession& session,
                             const std::string& target, int port) {
  // Asked twice: a name server may drop the first question. Shut-down does not wait.
  const std::optional<platform::Resolution> found =
      platform::ResolveIPv4Until(target, context.Exit, 2);
  if (!found) return platform::UniqueFd();
  const platform::Resolution& resolution = *found;
  if (!resolution.Address) {
    LogDebug(context, session, "Cannot resolve server name for %s", target.c_str());
    SendProxyAnswer(session.BrowserSocket.Get(), "502 Bad Gateway",
                    Format("Cannot resolve server name %s: %ld", target.c_str(),
                           static_cast<long>(resolution.Error)),
                    context.Exit, context.SendStallLimit);
    return platform::UniqueFd();
  }

  LogDebug(context, session, "Connecting to %s on %d", target.c_str(), port);
  int error = EINVAL;
  platform::UniqueFd server;
  if (port > 0 && port <= 65535) {
    server = platform::StartConnect(*resolution.Address, static_cast<std::uint16_t>(port), error);
  }
  if (!server.Valid() ||
      !platform::ConnectWithin(server.Get(), kConnectTimeout, context.Exit.Fd(), error)) {
    LogDebug(context, session, "!! - connect returned an error: %ld", long{error});
    if (error != ECANCELED) {
      SendProxyAnswer(session.BrowserSocket.Get(), "502 Bad Gateway",
                      Format(kConnectFailedText, target.c_str(), port), context.Exit,
                      context.SendStallLimit);
    }
    return platform::UniqueFd();
  }
  return server;
}

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
  session.Cacheable = false;
  SendProxyAnswer(session.BrowserSocket.Get(), "503 Service Unavailable", kConnectingText,
                  context.Exit, context.SendStallLimit);
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

  session.ServerSocket = ConnectTo(context, session, target, port);
  if (!session.ServerSocket.Valid()) {
    session.Cacheable = false;
    return false;
  }

  const bool sent = SendToServer(context, session, session.RequestBuffer);
  std::string().swap(session.RequestBuffer);
  if (!sent) return false;
  // A server that stops taking the body may already have answered (say, 413): that answer
  // is still relayed.
  return SendRequestBody(context, session) != Upload::BrowserFailed;
}

void OpenTunnel(SessionContext& context, HttpSession& session) {
  platform::UniqueFd server = ConnectTo(context, session, session.Host, session.Port);
  if (!server.Valid()) return;
  if (!SendToBrowser(context, session, kConnectEstablished)) return;
  // Bytes the browser sent after its CONNECT header block belong to the tunnel already.
  if (!platform::SendWithin(server.Get(), session.RequestBodyStart, context.Exit,
                            context.SendStallLimit)) {
    LogSendFailure(context, session, "server");
    return;
  }
  // From here on the connection belongs to the relay, not to this session.
  context.HandOverTunnel(std::move(session.BrowserSocket), std::move(server));
}

}  // namespace tenvar::http
