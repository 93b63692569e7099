// The cache's copy of an answer while it is relayed: whether the answer may go into the
// shared cache at all, its body written beside the relay, and its placing once it came whole.
// Runs on the session's thread.
#pragma once

#include <string_view>

#include "http/http_session.h"
#include "http/session_context.h"

namespace tenvar::http {

// Decides, once the answer's header block is known, whether it goes into the shared cache;
// if so, starts writing its body there (session.CacheItem), else clears Cacheable.
void BeginCacheItem(SessionContext& context, HttpSession& session, std::string_view headerBlock);

// Passes body bytes on to the item being written, if any; a disk that refuses them ends it.
void WriteCacheItem(HttpSession& session, std::string_view bytes);

// Puts the item in place with its kept headers if the answer may be kept and came whole;
// otherwise drops it. Does nothing once done.
void StoreCacheItem(SessionContext& context, HttpSession& session);

}  // namespace tenvar::http
