#include "http/cache_item.h"

#include <cerrno>
#include <memory>

#include "cache/cache_store.h"
#include "http/cache_policy.h"
#include "http/session_log.h"

namespace tenvar::http {

// Decides whether this answer goes into the shared cache and, if so, starts writing its body
// there as it is relayed.
void BeginCacheItem(SessionContext& context, HttpSession& session, std::string_view headerBlock) {
  if (!session.Cacheable) return;
  if (!session.Options->UseCache || session.Code != MethodCode::Get) {
    session.Cacheable = false;
    return;
  }
  if (const std::optional<std::string_view> refusal =
          SharedStoreRefusal(session.CacheRequestFields, headerBlock, session.ResponseTime)) {
    LogDebug(context, session, *refusal);
    session.Cacheable = false;
    return;
  }
  const std::shared_ptr<const config::GlobalSettings> settings = context.Config.Settings.Load();
  const std::shared_ptr<const config::ListFile::Entries> exclusions =
      session.Config->CacheExclusionsList.Load();
  const cache::CacheStoreRequest store{
      settings->CacheDir, session.CacheFileName, session.Path,         0,
      exclusions.get(),   settings->LimitCache,  settings->CacheLimit, nullptr};
  if (const std::optional<std::string> refusal =
          cache::EarlyStoreRefusal(store, context.CacheSizeMB.load())) {
    LogDebug(context, session, *refusal);
    session.Cacheable = false;
    return;
  }
  session.CacheItem = cache::ItemWriter::Begin(settings->CacheDir);
  if (!session.CacheItem) {
    LogDebug(
        context, session,
        "Error opening cache file: %s (%ld)", session.CacheFileName.c_str(), long{errno});
    session.Cacheable = false;
  }
}

// Passes body bytes on to the cache item being written, if any; a disk that refuses them
// ends the item.
void WriteCacheItem(HttpSession& session, std::string_view bytes) {
  if (!session.CacheItem || bytes.empty()) return;
  if (!session.CacheItem->Write(bytes)) {
    session.CacheItem.reset();
    session.Cacheable = false;
  }
}

// Puts the answer just relayed into the cache, if it may be kept and came whole.
void StoreCacheItem(SessionContext& context, HttpSession& session) {
  if (!session.CacheItem || !session.Cacheable) return;
  std::optional<cache::ItemWriter> body = std::move(session.CacheItem);
  session.CacheItem.reset();
  const bool chunkedCut =
      session.ChunkedBody && session.ChunkedBody->Current() != BodyEnd::State::Complete;
  if (chunkedCut || (session.ContentLength != 0 && session.BodyBytes != session.ContentLength)) {
    LogDebug(context, session, "Response ended early, not caching");
    return;
  }
  LogDebug(context, session, "About to cache item");
  const std::shared_ptr<const config::GlobalSettings> settings = context.Config.Settings.Load();
  const std::shared_ptr<const config::ListFile::Entries> exclusions =
      session.Config->CacheExclusionsList.Load();
  const cache::KeptHeaders headers = KeepHeaders(session.ResponseHeader, session.ResponseTime);
  cache::CacheStore(
      {settings->CacheDir, session.CacheFileName, session.Path, session.LastModifiedTime,
       exclusions.get(), settings->LimitCache, settings->CacheLimit, &headers},
      *body, {context.CacheItemCount, context.CacheSizeMB},
      [&](std::string_view line) { LogDebug(context, session, line); });
}

}  // namespace tenvar::http
