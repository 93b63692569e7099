#include "http/request_analysis.h"


#include <array>
#include <utility>

#include "http/http_date.h"
#include "platform/socket.h"
#include "platform/text.h"

namespace tenvar::http {
namespace {

constexpr std::string_view kHeaderEnd = "\r\n\r\n";
constexpr std::string_view kLineEnd = "\r\n";
constexpr std::string_view kConnectionClose = "Connection: close";

constexpr std::int32_t kHttpPort = 80;
constexpr std::int32_t kFtpPort = 21;

// Bytes of `text` from `from` up to (not including) `to`; npos for `to` means to the end.
// Positions past the end give an empty piece rather than a fault.
std::string_view Piece(std::string_view text, std::size_t from,
                       std::size_t to = std::string_view::npos) {
  if (from >= text.size()) return {};
  if (to == std::string_view::npos || to > text.size()) to = text.size();
  if (to <= from) return {};
  return text.substr(from, to - from);
}

std::size_t FindFrom(std::string_view text, char c, std::size_t from) {
  return from >= text.size() ? std::string_view::npos : text.find(c, from);
}

// A header line named `name`: the name in any case, then the colon.
bool IsHeaderNamed(std::string_view line, std::string_view name) {
  return line.size() > name.size() && line[name.size()] == ':' &&
         platform::StartsWithIgnoreCase(line, name);
}

// A continuation of the previous header line (obsolete line folding).
bool IsFoldedLine(std::string_view line) {
  return !line.empty() && (line.front() == ' ' || line.front() == '\t');
}

// Splits a header block (without its terminating blank line) into its lines; the first is
// the request line.
std::vector<std::string_view> SplitHeaderLines(std::string_view head) {
  std::vector<std::string_view> lines;
  while (true) {
    const std::size_t end = head.find(kLineEnd);
    lines.push_back(head.substr(0, end));
    if (end == std::string_view::npos) break;
    head.remove_prefix(end + kLineEnd.size());
  }
  return lines;
}

// The header block's lines, minus the header lines for which `drop` holds (and their folded
// continuations), joined again with CR LF. `firstDropped` receives the index in the result
// at which the first dropped line stood.
template <typename Drop>
std::vector<std::string_view> DropHeaderLines(std::string_view head, Drop drop,
                                              std::optional<std::size_t>& firstDropped) {
  const std::vector<std::string_view> lines = SplitHeaderLines(head);
  std::vector<std::string_view> kept;
  kept.reserve(lines.size());
  bool dropping = false;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (i > 0 && dropping && IsFoldedLine(lines[i])) continue;
    dropping = i > 0 && drop(lines[i]);
    if (dropping) {
      if (!firstDropped) firstDropped = kept.size();
      continue;
    }
    kept.push_back(lines[i]);
  }
  return kept;
}

std::string JoinLines(const std::vector<std::string_view>& lines) {
  std::string joined;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (i > 0) joined.append(kLineEnd);
    joined.append(lines[i]);
  }
  return joined;
}

bool ContainsAny(std::span<const std::string> entries, std::string_view text) {
  for (const std::string& entry : entries) {
    if (text.find(entry) != std::string_view::npos) return true;
  }
  return false;
}

void SplitHttpAuthority(std::string_view url, std::size_t start, UrlParts& parts) {
  const std::size_t colon = FindFrom(url, ':', start);
  const std::size_t slash = FindFrom(url, '/', start);
  if (colon != std::string_view::npos && (slash == std::string_view::npos || colon < slash)) {
    parts.Host = Piece(url, start, colon);
    parts.Port = platform::ParseNumber(Piece(url, colon + 1, slash));
  } else {
    parts.Host = Piece(url, start, slash);
    parts.Port = kHttpPort;
  }
  parts.Path = slash == std::string_view::npos ? std::string("/") : std::string(url.substr(slash));
}

void SplitFtpAuthority(std::string_view url, std::size_t start, UrlParts& parts) {
  // The user part ends at the authority's end; an "@" in the path is part of a file name.
  const std::size_t authorityEnd = FindFrom(url, '/', start);
  const std::size_t at = FindFrom(Piece(url, 0, authorityEnd), '@', start);
  std::size_t hostStart = start;
  if (at != std::string_view::npos) {
    const std::size_t colon = FindFrom(Piece(url, 0, at), ':', start);
    if (colon != std::string_view::npos) {
      parts.FtpUser = Piece(url, start, colon);
      parts.FtpPassword = Piece(url, colon + 1, at);
    } else {
      parts.FtpUser = Piece(url, start, at);
    }
    hostStart = at + 1;
  } else {
    parts.FtpUser = "anonymous";
    parts.FtpPassword = kAnonymousFtpPassword;
  }
  const std::size_t slash = FindFrom(url, '/', hostStart);
  // Only a ":" before the path separates a port; one inside the path belongs to a name.
  const std::size_t colon = FindFrom(Piece(url, 0, slash), ':', hostStart);
  if (colon != std::string_view::npos) {
    parts.Host = Piece(url, hostStart, colon);
    parts.Port = platform::ParseNumber(Piece(url, colon + 1, slash));
  } else {
    parts.Host = Piece(url, hostStart, slash);
    parts.Port = kFtpPort;
  }
  std::string_view path = slash == std::string_view::npos ? std::string_view()
                                                          : url.substr(slash + 1);
  if (!path.empty() && path.back() == '/') path.remove_suffix(1);
  parts.Path = path;
}

}  // namespace

MethodCode MethodCodeOf(std::string_view method) {
  static constexpr std::array<std::pair<std::string_view, MethodCode>, 8> kMethods = {{
      {"OPTIONS", MethodCode::Options},
      {"GET", MethodCode::Get},
      {"HEAD", MethodCode::Head},
      {"POST", MethodCode::Post},
      {"PUT", MethodCode::Put},
      {"DELETE", MethodCode::Delete},
      {"TRACE", MethodCode::Trace},
      {"CONNECT", MethodCode::Connect},
  }};
  for (const auto& [name, code] : kMethods) {
    if (platform::EqualsIgnoreCase(method, name)) return code;
  }
  return MethodCode::Other;
}

std::optional<RequestLine> ParseRequestLine(std::string_view request) {
  const std::string_view line = request.substr(0, request.find('\r'));
  const std::size_t first = line.find(' ');
  if (first == std::string_view::npos) return std::nullopt;
  const std::size_t second = line.find(' ', first + 1);
  if (second == std::string_view::npos) return std::nullopt;
  return RequestLine{std::string(line.substr(0, first)),
                     std::string(line.substr(first + 1, second - first - 1)),
                     std::string(line.substr(second + 1))};
}

std::optional<std::string> RefererOf(std::string_view request) {
  constexpr std::string_view kReferer = "Referer: ";
  const std::size_t at = request.find(kReferer);
  if (at == std::string_view::npos) return std::nullopt;
  const std::size_t start = at + kReferer.size();
  const std::size_t end = request.find('\r', start);
  if (end == std::string_view::npos) return std::nullopt;
  return std::string(request.substr(start, end - start));
}

std::optional<UrlParts> ParseUrl(std::string_view url) {
  const std::size_t colon = url.find(':');
  if (colon == std::string_view::npos) return std::nullopt;
  UrlParts parts;
  parts.Scheme = url.substr(0, colon);
  // The authority follows the "//" after the scheme's colon.
  const std::size_t authority = colon + 3;
  if (platform::EqualsIgnoreCase(parts.Scheme, "http")) {
    parts.Kind = UrlKind::Http;
    SplitHttpAuthority(url, authority, parts);
  } else if (platform::EqualsIgnoreCase(parts.Scheme, "ftp")) {
    parts.Kind = UrlKind::Ftp;
    SplitFtpAuthority(url, authority, parts);
  }
  return parts;
}

std::optional<ConnectTarget> ParseConnectTarget(std::string_view url) {
  const std::size_t colon = url.find(':');
  if (colon == std::string_view::npos) return std::nullopt;
  return ConnectTarget{std::string(url.substr(0, colon)),
                       platform::ParseNumber(url.substr(colon + 1))};
}

bool IsTrusted(std::span<const std::string> trustedSites, const std::optional<std::string>& referer,
               std::string_view url, std::span<const std::string> learnedSites) {
  if (trustedSites.empty() && learnedSites.empty()) return true;
  const std::string_view text = referer ? std::string_view(*referer) : url;
  return ContainsAny(trustedSites, text) || ContainsAny(learnedSites, text);
}

bool IsUpstreamExcluded(const std::vector<std::string>& exclusions,
                        std::string_view requestLine) {
  return ContainsAny(exclusions, requestLine);
}

std::string ForceConnectionClose(std::string_view request) {
  const std::size_t headEnd = request.find(kHeaderEnd);
  if (headEnd == std::string_view::npos) return std::string(request);
  std::optional<std::size_t> firstDropped;
  std::vector<std::string_view> lines = DropHeaderLines(
      request.substr(0, headEnd),
      [](std::string_view line) {
        return IsHeaderNamed(line, "Connection") || IsHeaderNamed(line, "Proxy-Connection") ||
               IsHeaderNamed(line, "Keep-Alive");
      },
      firstDropped);
  lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(firstDropped.value_or(lines.size())),
               kConnectionClose);
  std::string forwarded = JoinLines(lines);
  forwarded.append(request.substr(headEnd));
  return forwarded;
}

std::string RewriteForOrigin(const RequestLine& line, std::string_view path,
                             std::string_view request) {
  std::string rewritten = line.Method;
  rewritten.append(" ").append(path).append(" ").append(line.HttpVersion).append(kLineEnd);
  const std::size_t firstLineEnd = request.find(kLineEnd);
  if (firstLineEnd != std::string_view::npos) {
    rewritten.append(request.substr(firstLineEnd + kLineEnd.size()));
  }
  return rewritten;
}

std::string InsertIfModifiedSince(std::string_view request, std::time_t itemTime) {
  const std::size_t headEnd = request.find(kHeaderEnd);
  if (headEnd == std::string_view::npos) return std::string(request);
  std::optional<std::size_t> firstDropped;
  // The browser's own condition, in whatever case, must not stand beside ours.
  const std::vector<std::string_view> lines = DropHeaderLines(
      request.substr(0, headEnd),
      [](std::string_view line) { return IsHeaderNamed(line, "If-Modified-Since"); },
      firstDropped);
  std::string conditional = JoinLines(lines);
  conditional.append("\r\nIf-Modified-Since: ").append(FormatHttpDate(itemTime));
  conditional.append(request.substr(headEnd));
  return conditional;
}

std::string WithoutHeader(std::string_view request, std::string_view name) {
  const std::size_t headEnd = request.find(kHeaderEnd);
  if (headEnd == std::string_view::npos) return std::string(request);
  std::optional<std::size_t> firstDropped;
  std::string kept = JoinLines(DropHeaderLines(
      request.substr(0, headEnd),
      [name](std::string_view line) { return IsHeaderNamed(line, name); }, firstDropped));
  kept.append(request.substr(headEnd));
  return kept;
}

std::string ViaName(std::int32_t instancePort) {
  // Looked up once: the machine's name does not change under a running proxy.
  static const std::string hostName = platform::MachineName().value_or("tenvar");
  return hostName + ":" + std::to_string(instancePort);
}

std::string AddVia(std::string_view request, std::string_view httpVersion,
                   std::string_view viaName) {
  const std::size_t headEnd = request.find(kHeaderEnd);
  if (headEnd == std::string_view::npos) return std::string(request);
  constexpr std::string_view kHttpPrefix = "HTTP/";
  if (httpVersion.starts_with(kHttpPrefix)) httpVersion.remove_prefix(kHttpPrefix.size());
  std::string forwarded(request.substr(0, headEnd));
  forwarded.append("\r\nVia: ").append(httpVersion).append(" ").append(viaName);
  forwarded.append(request.substr(headEnd));
  return forwarded;
}

bool HasPassedThrough(std::string_view request, std::string_view viaName) {
  const std::size_t headEnd = request.find(kHeaderEnd);
  for (std::string_view line : SplitHeaderLines(request.substr(0, headEnd))) {
    if (!IsHeaderNamed(line, "Via")) continue;
    std::string_view hops = line.substr(4);
    // Each hop is "protocol received-by [comment]", hops separated by commas.
    while (!hops.empty()) {
      const std::size_t comma = hops.find(',');
      std::string_view hop = platform::Trim(hops.substr(0, comma));
      hops.remove_prefix(comma == std::string_view::npos ? hops.size() : comma + 1);
      const std::size_t space = hop.find_first_of(" \t");
      if (space == std::string_view::npos) continue;
      hop = platform::TrimLeft(hop.substr(space + 1));
      if (platform::EqualsIgnoreCase(hop.substr(0, hop.find_first_of(" \t")), viaName)) {
        return true;
      }
    }
  }
  return false;
}

}  // namespace tenvar::http
