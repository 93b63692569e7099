#include "http/cache_policy.h"

#include <algorithm>
#include <string>

#include "cache/header_fields.h"
#include "config/text.h"
#include "http/http_date.h"

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
    const std::string_view element = config::Trim(list.substr(0, comma));
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
    const std::string_view name = config::Trim(element.substr(0, semicolon));
    if (!config::EqualsIgnoreCase(name, coding) && name != "*") return;
    bool refused = false;
    if (semicolon != std::string_view::npos) {
      std::string_view parameter = config::Trim(element.substr(semicolon + 1));
      if (config::StartsWithIgnoreCase(parameter, "q=")) {
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
  for (const char* name :
       {"Authorization", "Cookie", "Cache-Control", "Pragma", "Accept-Encoding"}) {
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
      if (!config::EqualsIgnoreCase(element, "Accept-Encoding")) other = true;
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
  if (const auto shared = TokenSeconds(control, "s-maxage")) return shared;
  if (const auto maxAge = TokenSeconds(control, "max-age")) return maxAge;
  const std::optional<std::string> expires = FieldValue(responseHead, "Expires");
  if (!expires) return std::nullopt;
  const std::optional<std::time_t> expiresAt = ParseHttpDate(*expires);
  if (!expiresAt) return 0;
  const std::optional<std::string> date = FieldValue(responseHead, "Date");
  const std::time_t dateAt = (date ? ParseHttpDate(*date) : std::nullopt).value_or(responseTime);
  return static_cast<std::int64_t>(*expiresAt - dateAt);
}

namespace {

// RFC 9111 §4.2.3, with the request and response times taken as one: the apparent age
// from Date, or the Age the answer came with, whichever is larger.
std::int64_t InitialAge(std::string_view responseHead, std::time_t responseTime) {
  const std::optional<std::string> date = FieldValue(responseHead, "Date");
  const std::optional<std::time_t> dateAt = date ? ParseHttpDate(*date) : std::nullopt;
  const std::int64_t apparent = dateAt ? std::max<std::int64_t>(0, responseTime - *dateAt) : 0;
  std::int64_t ageValue = 0;
  if (const std::optional<std::string> age = FieldValue(responseHead, "Age")) {
    ageValue = std::max(0, config::ParseNumber(*age));
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
    if (!config::EqualsIgnoreCase(coding, "identity") && !Accepts(acceptEncoding, coding)) {
      accepted = false;
    }
  });
  return accepted;
}

std::optional<std::string> SameOriginPath(std::string_view target, std::string_view host,
                                          std::int32_t port) {
  constexpr std::string_view kScheme = "http://";
  target = config::Trim(target.substr(0, target.find('#')));
  if (config::StartsWithIgnoreCase(target, kScheme)) {
    target.remove_prefix(kScheme.size());
    const std::size_t slash = target.find('/');
    const std::string_view authority = target.substr(0, slash);
    const std::size_t colon = authority.find(':');
    const std::int32_t targetPort =
        colon == std::string_view::npos ? 80 : config::ParseNumber(authority.substr(colon + 1));
    if (!config::EqualsIgnoreCase(authority.substr(0, colon), host) || targetPort != port) {
      return std::nullopt;
    }
    return std::string(slash == std::string_view::npos ? "/" : target.substr(slash));
  }
  if (!target.starts_with('/') || target.starts_with("//")) return std::nullopt;
  return std::string(target);
}

}  // namespace tenvar::http
