#include "http/cache_policy.h"

#include <algorithm>
#include <string>

#include "cache/header_fields.h"
#include "http/http_date.h"
#include "platform/text.h"

namespace tenvar::http {
namespace {

using cache::FieldValue;
using cache::HasToken;
using cache::TokenSeconds;

std::string CacheControl(std::string_view head) {
  return FieldValue(head, "Cache-Control").value_or("");
}

// Calls `visit(element)` for each element of a comma-separated list, blanks trimmed.
template <typename Visit>
void ForEachElement(std::string_view list, Visit visit) {
  while (!list.empty()) {
    const std::size_t comma = list.find(',');
    const std::string_view element = platform::Trim(list.substr(0, comma));
    if (!element.empty()) visit(element);
    if (comma == std::string_view::npos) break;
    list.remove_prefix(comma + 1);
  }
}

// Accept-Encoding names `coding` (or "*") without refusing it with q=0.
bool Accepts(std::string_view acceptEncoding, std::string_view coding) {
  bool accepted = false;
  ForEachElement(acceptEncoding, [&](std::string_view element) {
    const std::size_t semicolon = element.find(';');
    const std::string_view name = platform::Trim(element.substr(0, semicolon));
    if (!platform::EqualsIgnoreCase(name, coding) && name != "*") return;
    bool refused = false;
    if (semicolon != std::string_view::npos) {
      std::string_view parameter = platform::Trim(element.substr(semicolon + 1));
      if (platform::StartsWithIgnoreCase(parameter, "q=")) {
        parameter.remove_prefix(2);
        refused = parameter.find_first_not_of("0.") == std::string_view::npos;
      }
    }
    if (!refused) accepted = true;
  });
  return accepted;
}

}  // namespace

std::string RequestFieldsForCache(std::string_view request) {
  const std::size_t end = request.find("\r\n\r\n");
  const std::string_view head = request.substr(0, end);
  std::string fields;
  for (const char* name : {"Authorization", "Cookie", "Cache-Control", "Pragma", "Accept-Encoding",
                           "If-None-Match", "If-Modified-Since"}) {
    if (const std::optional<std::string> value = FieldValue(head, name)) {
      fields.append(name).append(": ").append(*value).append("\r\n");
    }
  }
  return fields;
}

std::optional<std::string_view> SharedStoreRefusal(std::string_view requestHead,
                                                   std::string_view responseHead,
                                                   std::time_t responseTime) {
  const std::string requestControl = CacheControl(requestHead);
  const std::string control = CacheControl(responseHead);
  if (HasToken(requestControl, "no-store")) return "Browser asked not to store, not caching";
  if (HasToken(control, "private")) return "Answer is private, not caching";
  if (FieldValue(responseHead, "Set-Cookie")) return "Answer sets a cookie, not caching";
  if (const std::optional<std::string> vary = FieldValue(responseHead, "Vary")) {
    bool other = false;
    ForEachElement(*vary, [&](std::string_view element) {
      if (!platform::EqualsIgnoreCase(element, "Accept-Encoding")) other = true;
    });
    if (other) return "Answer varies by more than Accept-Encoding, not caching";
  }
  const bool isPublic = HasToken(control, "public");
  const bool sharedMaxAge = HasToken(control, "s-maxage");
  if (FieldValue(requestHead, "Authorization") && !isPublic && !sharedMaxAge &&
      !HasToken(control, "must-revalidate")) {
    return "Answer to an authorised request, not caching";
  }
  if (FieldValue(requestHead, "Cookie") && !isPublic && !sharedMaxAge &&
      TokenSeconds(control, "max-age").value_or(0) <= 0) {
    return "Answer to a request with cookies, not caching";
  }
  const std::optional<std::int64_t> lifetime = FreshnessLifetime(responseHead, responseTime);
  if (lifetime && *lifetime <= 0) return "Answer is already stale, not caching";
  return std::nullopt;
}

std::optional<std::int64_t> FreshnessLifetime(std::string_view responseHead,
                                              std::time_t responseTime) {
  const std::string control = CacheControl(responseHead);
  // A lifetime the cache cannot read (negative, quoted oddly) is taken as none left.
  for (const char* directive : {"s-maxage", "max-age"}) {
    if (HasToken(control, directive)) return TokenSeconds(control, directive).value_or(0);
  }
  const std::optional<std::string> expires = FieldValue(responseHead, "Expires");
  if (!expires) return std::nullopt;
  const std::optional<std::time_t> expiresAt = ParseHttpDate(*expires);
  if (!expiresAt) return 0;
  const std::optional<std::string> date = FieldValue(responseHead, "Date");
  const std::time_t dateAt = (date ? ParseHttpDate(*date) : std::nullopt).value_or(responseTime);
  return static_cast<std::int64_t>(*expiresAt - dateAt);
}

namespace {

// An age no lifetime reaches: what an answer with an unreadable Age counts as.
constexpr std::int64_t kUnknownAge = std::int64_t{1} << 40;

// RFC 9111 §4.2.3, with the request and response times taken as one: the apparent age
// from Date, or the Age the answer came with, whichever is larger. An Age that is not one
// plain number leaves the answer's age unknown, so it is taken as stale.
std::int64_t InitialAge(std::string_view responseHead, std::time_t responseTime) {
  const std::optional<std::string> date = FieldValue(responseHead, "Date");
  const std::optional<std::time_t> dateAt = date ? ParseHttpDate(*date) : std::nullopt;
  const std::int64_t apparent = dateAt ? std::max<std::int64_t>(0, responseTime - *dateAt) : 0;
  std::int64_t ageValue = 0;
  if (const std::optional<std::string> age = FieldValue(responseHead, "Age")) {
    if (age->empty() || age->find_first_not_of("0123456789") != std::string::npos) {
      return kUnknownAge;
    }
    ageValue = TokenSeconds("age=" + *age, "age").value_or(kUnknownAge);
  }
  return std::max(apparent, ageValue);
}

}  // namespace

cache::KeptHeaders KeepHeaders(std::string_view responseHead, std::time_t responseTime) {
  cache::KeptHeaders kept;
  kept.StoredAt = responseTime;
  kept.InitialAge = InitialAge(responseHead, responseTime);
  kept.Lifetime = FreshnessLifetime(responseHead, responseTime);
  kept.Fields = cache::EndToEndFields(responseHead);
  return kept;
}

cache::KeptHeaders RefreshKeptHeaders(const cache::KeptHeaders& kept,
                                      std::string_view notModifiedHead, std::time_t responseTime) {
  cache::KeptHeaders refreshed = kept;
  refreshed.Fields = cache::MergeFields(kept.Fields, cache::EndToEndFields(notModifiedHead));
  refreshed.StoredAt = responseTime;
  refreshed.InitialAge = InitialAge(notModifiedHead, responseTime);
  refreshed.Lifetime = FreshnessLifetime(refreshed.Fields, responseTime);
  return refreshed;
}

std::string WithEntityTagCondition(std::string_view request, std::string_view keptFields) {
  const std::optional<std::string> etag = FieldValue(keptFields, "ETag");
  const std::size_t requestLineEnd = request.find("\r\n");
  if (!etag || requestLineEnd == std::string_view::npos) return std::string(request);
  const std::size_t headEnd = request.find("\r\n\r\n");
  std::string rewritten(request.substr(0, requestLineEnd + 2));
  rewritten.append("If-None-Match: ").append(*etag).append("\r\n");
  // The browser's own condition is about its copy, not the cache's.
  std::string_view lines = request.substr(requestLineEnd + 2, headEnd == std::string_view::npos
                                                                  ? std::string_view::npos
                                                                  : headEnd - requestLineEnd);
  while (!lines.empty()) {
    const std::size_t end = lines.find("\r\n");
    const std::string_view line =
        lines.substr(0, end == std::string_view::npos ? lines.size() : end + 2);
    if (!platform::StartsWithIgnoreCase(line, "If-None-Match:")) rewritten.append(line);
    lines.remove_prefix(line.size());
  }
  if (headEnd != std::string_view::npos) rewritten.append(request.substr(headEnd + 2));
  return rewritten;
}

bool IsForcedReload(std::string_view requestHead) {
  const std::string control = CacheControl(requestHead);
  if (HasToken(control, "no-cache") || TokenSeconds(control, "max-age") == 0) return true;
  return HasToken(FieldValue(requestHead, "Pragma").value_or(""), "no-cache");
}

bool AcceptsItemCoding(std::string_view requestHead, std::string_view keptFields) {
  const std::optional<std::string> codings = FieldValue(keptFields, "Content-Encoding");
  if (!codings) return true;
  const std::string acceptEncoding = FieldValue(requestHead, "Accept-Encoding").value_or("");
  bool accepted = true;
  ForEachElement(*codings, [&](std::string_view coding) {
    if (!platform::EqualsIgnoreCase(coding, "identity") && !Accepts(acceptEncoding, coding)) {
      accepted = false;
    }
  });
  return accepted;
}

std::optional<std::string> SameOriginPath(std::string_view target, std::string_view host,
                                          std::int32_t port) {
  constexpr std::string_view kScheme = "http://";
  target = platform::Trim(target.substr(0, target.find('#')));
  if (platform::StartsWithIgnoreCase(target, kScheme)) {
    target.remove_prefix(kScheme.size());
    const std::size_t slash = target.find('/');
    const std::string_view authority = target.substr(0, slash);
    const std::size_t colon = authority.find(':');
    const std::int32_t targetPort =
        colon == std::string_view::npos ? 80 : platform::ParseNumber(authority.substr(colon + 1));
    if (!platform::EqualsIgnoreCase(authority.substr(0, colon), host) || targetPort != port) {
      return std::nullopt;
    }
    return std::string(slash == std::string_view::npos ? "/" : target.substr(slash));
  }
  if (!target.starts_with('/') || target.starts_with("//")) return std::nullopt;
  return std::string(target);
}

bool BrowserHasItem(std::string_view requestFields, std::string_view keptFields,
                    std::time_t lastModified) {
  if (const std::optional<std::string> wanted = FieldValue(requestFields, "If-None-Match")) {
    const std::optional<std::string> etag = FieldValue(keptFields, "ETag");
    if (!etag) return false;
    // Weak comparison: W/"x" and "x" name the same item.
    const auto opaque = [](std::string_view tag) {
      return platform::StartsWithIgnoreCase(tag, "W/") ? tag.substr(2) : tag;
    };
    bool matched = false;
    ForEachElement(*wanted, [&](std::string_view tag) {
      if (tag == "*" || opaque(tag) == opaque(*etag)) matched = true;
    });
    return matched;
  }
  const std::optional<std::string> since = FieldValue(requestFields, "If-Modified-Since");
  if (!since) return false;
  const std::optional<std::time_t> sinceAt = ParseHttpDate(*since);
  const std::optional<std::string> modified = FieldValue(keptFields, "Last-Modified");
  const std::optional<std::time_t> modifiedAt =
      modified ? ParseHttpDate(*modified) : std::optional<std::time_t>(lastModified);
  return sinceAt && modifiedAt && *modifiedAt <= *sinceAt;
}

}  // namespace tenvar::http
