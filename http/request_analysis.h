// The first look at a browser's request: is it whole, what does it ask for and where, may it
// be served, and the rewrites made before it is forwarded. Pure functions over the request
// bytes; safe from any thread.
#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tenvar::http {

// The password given for anonymous ftp logins that name no user in the URL.
inline constexpr std::string_view kAnonymousFtpPassword = "tenvar@localhost";

enum class MethodCode : std::uint32_t {
  Other = 0,
  Options = 1,
  Get = 2,
  Head = 3,
  Post = 4,
  Put = 5,
  Delete = 6,
  Trace = 7,
  Connect = 8
};

// The method's code, its name compared in any case.
MethodCode MethodCodeOf(std::string_view method);

struct RequestLine {
  std::string Method;
  std::string Url;
  std::string HttpVersion;
};

// Splits the bytes before the first CR as "METHOD URL VERSION"; the version is the rest of
// the line. Nothing when either space is missing.
std::optional<RequestLine> ParseRequestLine(std::string_view request);

// The value of "Referer: " (exact case) up to the next CR; nothing when absent or
// unterminated.
std::optional<std::string> RefererOf(std::string_view request);

enum class UrlKind : std::uint32_t { Other = 0, Http = 1, Ftp = 2 };

struct UrlParts {
  std::string Scheme;
  UrlKind Kind = UrlKind::Other;
  std::string Host;  // empty when the URL names none; callers refuse such a request
  std::int32_t Port = 0;
  std::string Path;  // http: from the first "/" on, query included, "/" when none
                     // ftp: without the leading and one trailing "/", empty when none
  std::string FtpUser, FtpPassword;
};

// Splits an absolute http or ftp URL; for any other scheme only Scheme is filled. Nothing
// when there is no ":" at all. An ftp URL naming no user logs in as "anonymous" with
// kAnonymousFtpPassword.
std::optional<UrlParts> ParseUrl(std::string_view url);

struct ConnectTarget {
  std::string Host;
  std::int32_t Port = 0;
};

// "host:port" of a CONNECT request, split at the first ":"; nothing without one.
std::optional<ConnectTarget> ParseConnectTarget(std::string_view url);

// Whether a request may pass the trusted-sites list (the file's entries and the learned
// ones): an empty list trusts everything. With a Referer the Referer alone must contain an
// entry (case-sensitive), otherwise the URL.
bool IsTrusted(std::span<const std::string> trustedSites, const std::optional<std::string>& referer,
               std::string_view url, std::span<const std::string> learnedSites = {});

// Whether any entry occurs in the whole request line "METHOD URL VERSION", which sends the
// request straight to the origin instead of the upstream proxy.
bool IsUpstreamExcluded(const std::vector<std::string>& exclusions, std::string_view requestLine);

// The request with a single "Connection: close" in place of its Connection,
// Proxy-Connection and Keep-Alive header lines (names in any case), or added as the last
// header line where there were none. Every other byte, the body included, is kept. A request
// whose header block is not complete is returned unchanged.
std::string ForceConnectionClose(std::string_view request);

// The request with its first line replaced by "METHOD path VERSION"; the following lines
// are kept byte for byte.
std::string RewriteForOrigin(const RequestLine& line, std::string_view path,
                             std::string_view request);

// The request asking for the item only when newer than `itemTime`: any If-Modified-Since
// header line (name in any case) is dropped and exactly one is added as the last header
// line. A request whose header block is not complete is returned unchanged.
std::string InsertIfModifiedSince(std::string_view request, std::time_t itemTime);

// The request without its header lines named `name` (in any case) and their continuations.
std::string WithoutHeader(std::string_view request, std::string_view name);

// This proxy's name in Via entries: "<host name>:<port>" of the instance.
std::string ViaName(std::int32_t instancePort);

// The request with "Via: <protocol> <viaName>" added as the last header line (RFC 9110
// §7.6.3), the protocol taken from the request's version ("HTTP/1.1" gives "1.1").
std::string AddVia(std::string_view request, std::string_view httpVersion,
                   std::string_view viaName);

// Whether a Via header of the request names `viaName` as a hop: the request has been here
// before, and forwarding it again would go round for ever.
bool HasPassedThrough(std::string_view request, std::string_view viaName);

}  // namespace tenvar::http
