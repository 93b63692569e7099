#include "http/session_pipeline.h"

#include <ctime>

#include "cache/cache_lookup.h"
#include "cache/cache_path.h"
#include "cache/cache_store.h"
#include "cache/content_type.h"
#include "http/ftp_retrieval.h"
#include "http/http_date.h"
#include "http/request_log.h"
#include "http/request_reader.h"
#include "http/response_reader.h"
#include "http/server_connection.h"
#include "http/session_log.h"
#include "platform/send.h"

namespace tenvar::http {
namespace {

// Loads the session's item from the cache; true on a hit.
bool LookUpCache(SessionContext& context, HttpSession& session) {
  if (session.CacheFileName.empty()) return false;
  LogDebugAlone(context, session, "Looking for cache file: " + session.CacheFileName);
  std::optional<cache::CachedItem> item = cache::CacheLookup(
      session.CacheFileName, context.Config.Settings.Load()->CacheExpiry, std::time(nullptr));
  if (!item) return false;
  session.ResponseBuffer = std::move(item->Body);
  session.LastModifiedTime = item->LastModified;
  return true;
}

// A cached item goes out as a complete response, dated with the origin's time.
void SendCachedItem(SessionContext& context, HttpSession& session) {
  std::string head = "HTTP/1.0 200 OK\r\nContent-Type: ";
  head.append(cache::ContentTypeFor(session.CacheFileName))
      .append("\r\nContent-Length: ")
      .append(std::to_string(session.ResponseBuffer.size()))
      .append("\r\nLast-Modified: ")
      .append(FormatHttpDate(session.LastModifiedTime))
      .append("\r\nConnection: close\r\n\r\n");
  if (platform::SendString(session.BrowserSocket.Get(), head, context.Exit) != 0) return;
  if (session.Code == MethodCode::Head) return;
  platform::SendString(session.BrowserSocket.Get(), session.ResponseBuffer, context.Exit);
}

void StoreInCache(SessionContext& context, HttpSession& session) {
  if (!session.Cacheable || !session.Options->UseCache || session.Code == MethodCode::Post) return;
  LogDebug(context, session, "About to cache item");
  const std::shared_ptr<const config::GlobalSettings> settings = context.Config.Settings.Load();
  const std::shared_ptr<const config::ListFile::Entries> exclusions =
      session.Config->CacheExclusionsList.Load();
  cache::CacheStore(
      {session.CacheFileName, session.Path, session.ResponseBuffer, session.LastModifiedTime,
       exclusions.get(), settings->LimitCache, settings->CacheLimit},
      {context.CacheItemCount, context.CacheSizeMB},
      [&](std::string_view line) { LogDebug(context, session, line); });
}

// The cached copy is checked with the server; the browser gets the cached body on 304 and
// the server's answer otherwise.
void Revalidate(SessionContext& context, HttpSession& session) {
  LogDebug(context, session, "Checking to see if we have latest version of item");
  // Kept aside: an expired item is deleted by the lookup that found it, and a 304 must
  // still be answered with it.
  std::string cachedBody = std::move(session.ResponseBuffer);
  const std::time_t cachedTime = session.LastModifiedTime;
  session.ResponseBuffer.clear();
  session.RequestBuffer = InsertIfModifiedSince(session.RequestBuffer, session.LastModifiedTime);
  if (!ConnectAndSend(context, session)) return;
  const int status = ReadResponse(context, session, /*relay=*/false);
  if (status == -1) return;
  if (status == 304) {
    LogDebug(context, session, "304 - we have latest version");
    if (!LookUpCache(context, session)) {
      session.ResponseBuffer = std::move(cachedBody);
      session.LastModifiedTime = cachedTime;
    }
    ++context.CacheHitCount;
    SendCachedItem(context, session);
    return;
  }
  if (status == 200) {
    LogDebug(context, session,
             "200 - item is out of date, or server doesn't support If-Modified-Since");
  }
  const int browser = session.BrowserSocket.Get();
  if (platform::SendString(browser, session.ResponseHeader, context.Exit) != 0 ||
      platform::SendString(browser, session.ResponseBuffer, context.Exit) != 0) {
    return;
  }
  if (status == 200) StoreInCache(context, session);
}

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

  if (session.Kind == UrlKind::Ftp) {
    RetrieveFtpItem(context, session);
    return;
  }
  // Other schemes are not fetched; the connection just closes.
  if (session.Kind != UrlKind::Http) return;

  // An instance with UseCache off neither looks items up nor stores them.
  if (session.Options->UseCache) {
    session.CacheFileName =
        cache::CachePathFor(context.Config.Settings.Load()->CacheDir, session.Host, session.Path)
            .value_or("");
  }
  if (session.Options->UseCache && session.Code != MethodCode::Post &&
      LookUpCache(context, session)) {
    if (session.Options->AlwaysGetNewest) {
      Revalidate(context, session);
      return;
    }
    LogActivity(
        context, session,
        Format("HTTP: Retrieved %s%s from cache", session.Host.c_str(), session.Path.c_str()));
    ++context.CacheHitCount;
    // The item on disk is the one just served: it is not written again.
    SendCachedItem(context, session);
    return;
  }

  LogDebug(context, session,
           Format("Ready to go, about to establish connection to %s", session.Host.c_str()));
  if (!ConnectAndSend(context, session)) return;
  if (ReadResponse(context, session, /*relay=*/true) == -1) return;
  CheckAndLog(context, session);
  StoreInCache(context, session);
}

}  // namespace tenvar::http
