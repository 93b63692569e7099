#include "http/session_pipeline.h"

#include <ctime>
#include <filesystem>
#include <memory>
#include <string>

#include "cache/cache_lookup.h"
#include "cache/cache_path.h"
#include "cache/cache_store.h"
#include "cache/content_type.h"
#include "cache/header_fields.h"
#include "http/cache_item.h"
#include "http/cache_policy.h"
#include "http/ftp_retrieval.h"
#include "http/http_date.h"
#include "http/proxy_answer.h"
#include "http/request_log.h"
#include "http/request_policy.h"
#include "http/request_reader.h"
#include "http/response_reader.h"
#include "http/server_connection.h"
#include "http/session_log.h"
#include "http/session_send.h"
#include "platform/send_file.h"

namespace tenvar::http {
namespace {

cache::CacheCounters Counters(SessionContext& context) {
  return {context.CacheItemCount, context.CacheSizeMB};
}

std::string CacheDir(const SessionContext& context) {
  return context.Config.Settings.Load()->CacheDir;
}

// Finds the session's item in the cache.
std::optional<cache::CachedItem> LookUpCache(SessionContext& context, HttpSession& session) {
  if (session.CacheFileName.empty()) return std::nullopt;
  LogDebugAlone(context, session, "Looking for cache file: " + session.CacheFileName);
  std::optional<cache::CachedItem> item = cache::CacheLookup(
      CacheDir(context), session.CacheFileName, context.Config.Settings.Load()->CacheExpiry,
      std::time(nullptr), Counters(context));
  if (item) session.LastModifiedTime = item->LastModified;
  return item;
}

// A cached item goes out as a complete response: with the origin's fields and its age when
// they were kept, else with a type guessed from its name; dated with the origin's time.
void SendCachedItem(SessionContext& context, HttpSession& session, const cache::CachedItem& item) {
  // A browser that already holds this very item is told so, without the body.
  const bool notModified = BrowserHasItem(
      session.CacheRequestFields, item.Headers ? item.Headers->Fields : "", item.LastModified);
  std::string head = notModified ? "HTTP/1.0 304 Not Modified\r\n" : "HTTP/1.0 200 OK\r\n";
  if (item.Headers) {
    head.append(item.Headers->Fields);
    head.append("Age: ").append(std::to_string(item.Headers->AgeAt(std::time(nullptr))));
    head.append("\r\n");
  } else {
    head.append("Content-Type: ").append(cache::ContentTypeFor(session.CacheFileName));
    head.append("\r\n");
  }
  if (!item.Headers || !cache::FieldValue(item.Headers->Fields, "Last-Modified")) {
    head.append("Last-Modified: ").append(FormatHttpDate(item.LastModified)).append("\r\n");
  }
  if (notModified) {
    head.append("Connection: close\r\n\r\n");
    SendToBrowser(context, session, head);
    return;
  }
  head.append("Content-Length: ").append(std::to_string(item.Size));
  head.append("\r\nConnection: close\r\n\r\n");
  if (!SendToBrowser(context, session, head)) return;
  if (session.Code == MethodCode::Head) return;
  // The body goes from the file to the socket in the kernel: an item of any size costs this
  // session no memory.
  switch (platform::SendFileWithin(session.BrowserSocket.Get(), item.Body.Get(), 0, item.Size,
                                   context.Exit, context.SendStallLimit)) {
    case platform::FileSendResult::Sent:
    case platform::FileSendResult::Exit:
      break;
    case platform::FileSendResult::FileEnded:
      LogDebug(context, session, "Cache file ended before its size: " + session.CacheFileName);
      break;
    case platform::FileSendResult::Stalled:
    case platform::FileSendResult::Failed:
      LogSendFailure(context, session, "browser");
      break;
  }
}

// The cached copy is checked with the server: a 304 serves it (with the fields the 304
// refreshed), any other answer is relayed as it arrives and stored like a miss.
void Revalidate(SessionContext& context, HttpSession& session, cache::CachedItem item) {
  LogDebug(context, session, "Checking to see if we have latest version of item");
  session.RequestBuffer = InsertIfModifiedSince(session.RequestBuffer, session.LastModifiedTime);
  if (item.Headers) {
    session.RequestBuffer = WithEntityTagCondition(session.RequestBuffer, item.Headers->Fields);
  }
  if (!ConnectAndSend(context, session)) return;
  const ResponseOutcome answer = ReadResponse(context, session, /*holdNotModified=*/true);
  // A stale item is never served unconfirmed (RFC 9111 §4.2.4); the browser is told why.
  if (answer.End == ResponseOutcome::Result::NoAnswer) {
    SendProxyAnswer(session.BrowserSocket.Get(), "504 Gateway Timeout",
                    "The server did not answer.\r\n", context.Exit, context.SendStallLimit);
    return;
  }
  if (answer.End != ResponseOutcome::Result::Relayed) return;
  if (answer.Status == 304) {
    LogDebug(context, session, "304 - we have latest version");
    if (item.Headers) {
      item.Headers =
          RefreshKeptHeaders(*item.Headers, session.ResponseHeader, session.ResponseTime);
      // An item the lookup found expired has gone: it serves this answer only.
      if (std::filesystem::exists(session.CacheFileName)) {
        cache::UpdateKeptHeaders(CacheDir(context), session.CacheFileName, *item.Headers);
      }
    }
    ++context.CacheHitCount;
    SendCachedItem(context, session, item);
    return;
  }
  if (answer.Status == 200) {
    LogDebug(context, session,
             "200 - item is out of date, or server doesn't support If-Modified-Since");
  }
  StoreCacheItem(context, session);
}

// A successful answer to a method that may change the resource makes the cached copies of
// its URL, and of its Location and Content-Location on the same host, stale: they go
// (RFC 9111 §4.4).
void InvalidateAfterChange(SessionContext& context, const HttpSession& session, int status) {
  if (status < 200 || status >= 400) return;
  switch (session.Code) {
    case MethodCode::Get:
    case MethodCode::Head:
    case MethodCode::Options:
    case MethodCode::Trace:
      return;
    default:
      break;
  }
  const std::string cacheDir = CacheDir(context);
  std::vector<std::string> items;
  if (auto own = cache::CachePathFor(cacheDir, session.Host, session.Port, session.Path)) {
    items.push_back(*own);
  }
  for (const char* field : {"Location", "Content-Location"}) {
    const std::optional<std::string> target = cache::FieldValue(session.ResponseHeader, field);
    if (!target) continue;
    const std::optional<std::string> path = SameOriginPath(*target, session.Host, session.Port);
    if (!path) continue;
    if (auto item = cache::CachePathFor(cacheDir, session.Host, session.Port, *path)) {
      items.push_back(*item);
    }
  }
  for (const std::string& item : items) {
    LogDebug(context, session, "Removing cached item: " + item);
    cache::RemoveCacheItem(cacheDir, item, Counters(context));
  }
}

void CheckAndLog(SessionContext& context, HttpSession& session) {
  std::optional<std::string> keyword;
  if (session.AbuseScan) {
    session.AbuseScan->ScanWhole(session.Url);
    keyword = session.AbuseScan->Found();
  }
  if (!session.Options->RequestsLog.empty()) {
    WriteRequestLog(session.Options->RequestsLog, context.LogLock,
                    RequestLogLine(std::time(nullptr), keyword.value_or(""),
                                   context.FindLanClient(session.ClientAddress),
                                   session.ClientAddress, session.Url));
  }
  if (keyword) context.SendAbuseAlert();
}

// An http:// request the cache cannot answer goes to the next hop; its answer is relayed,
// searched, logged and kept where it may be.
void FetchFromServer(SessionContext& context, HttpSession& session) {
  LogDebug(context, session, "Ready to go, about to establish connection to %s",
           session.Host.c_str());
  if (!ConnectAndSend(context, session)) return;
  if (session.Options->AbuseDetection) {
    session.AbuseScan.emplace(*session.Config->AbuseKeywordsList.Load());
  }
  const ResponseOutcome answer = ReadResponse(context, session);
  // A server that closed or fell silent before its first byte: the browser is told, not
  // left with an empty reply.
  if (answer.End == ResponseOutcome::Result::NoAnswer && session.ResponseBuffer.empty()) {
    SendProxyAnswer(session.BrowserSocket.Get(), "502 Bad Gateway",
                    "The server did not answer.\r\n", context.Exit, context.SendStallLimit);
  }
  if (answer.End != ResponseOutcome::Result::Relayed) return;
  CheckAndLog(context, session);
  StoreCacheItem(context, session);
  InvalidateAfterChange(context, session, answer.Status);
}

// An http:// request: from the cache when it holds a fresh item this browser may have,
// after asking the server when the item must be checked, else from the server.
void ServeHttp(SessionContext& context, HttpSession& session) {
  // An instance with UseCache off neither looks items up nor stores them.
  if (session.Options->UseCache) {
    session.CacheRequestFields = RequestFieldsForCache(session.RequestBuffer);
    session.CacheFileName =
        cache::CachePathFor(CacheDir(context), session.Host, session.Port, session.Path)
            .value_or("");
  }
  // Only GET and HEAD may be answered from the cache; every other method is the server's.
  std::optional<cache::CachedItem> item;
  if (session.Options->UseCache &&
      (session.Code == MethodCode::Get || session.Code == MethodCode::Head)) {
    item = LookUpCache(context, session);
  }
  if (item && item->Headers &&
      !AcceptsItemCoding(session.CacheRequestFields, item->Headers->Fields)) {
    LogDebug(context, session, "Browser does not accept the cached item's coding");
    item.reset();
  }
  if (!item) {
    FetchFromServer(context, session);
    return;
  }
  // A forced reload, or an item past the lifetime its origin gave it, is checked with the
  // server first, as every hit is with AlwaysGetNewest.
  if (session.Options->AlwaysGetNewest || IsForcedReload(session.CacheRequestFields) ||
      (item->Headers && item->Headers->StaleAt(std::time(nullptr)))) {
    Revalidate(context, session, std::move(*item));
    return;
  }
  LogActivity(
      context, session,
      Format("HTTP: Retrieved %s%s from cache", session.Host.c_str(), session.Path.c_str()));
  ++context.CacheHitCount;
  // The item on disk is the one just served: it is not written again.
  SendCachedItem(context, session, *item);
}

}  // namespace

void RunHttpSession(SessionContext& context, HttpSession session) {
  if (context.Exit.IsSignalled()) return;
  session.Config->RefreshListFiles(context.Config);
  session.Options = session.Config->Options();
  if (!ReadRequest(context, session)) return;
  switch (AnalyseRequest(session)) {
    case RequestAction::Drop:
      return;
    case RequestAction::Refuse:
      SendToBrowser(context, session, kForbiddenAnswer);
      return;
    case RequestAction::BadBodyLength:
      SendProxyAnswer(session.BrowserSocket.Get(), "400 Bad Request",
                      "The length of the request body is invalid.", context.Exit,
                      context.SendStallLimit);
      return;
    case RequestAction::Loop:
      LogActivity(context, session, Format("HTTP: Loop detected for %s", session.Url.c_str()));
      SendProxyAnswer(session.BrowserSocket.Get(), "508 Loop Detected",
                      "This request came back to the proxy that sent it: check the upstream "
                      "proxy settings.",
                      context.Exit, context.SendStallLimit);
      return;
    case RequestAction::Tunnel:
      OpenTunnel(context, session);
      return;
    case RequestAction::OtherScheme:
      // Counted, but not fetched: the connection just closes.
      ++context.RequestCount;
      return;
    case RequestAction::FetchFtp:
      ++context.RequestCount;
      RetrieveFtpItem(context, session);
      return;
    case RequestAction::Forward:
      ++context.RequestCount;
      ServeHttp(context, session);
      return;
  }
}

}  // namespace tenvar::http
