// One browser connection of an HTTP proxy instance, from the accepted socket to the answer.
// Owned by the session's own thread, which alone touches it; the sockets close with it.
#pragma once

#include <cstdint>
#include <ctime>
#include <memory>
#include <optional>
#include <string>

#include "cache/cache_store.h"
#include "config/http_proxy_config.h"
#include "http/keyword_scanner.h"
#include "http/request_analysis.h"
#include "http/request_body.h"
#include "platform/unique_fd.h"

namespace tenvar::http {

struct HttpSession {
  // The instance that accepted the connection, and its options as they were when the
  // session started: one session sees one consistent set even if the file is re-read.
  std::shared_ptr<config::HttpProxyConfig> Config;
  std::shared_ptr<const config::HttpProxyOptions> Options;
  platform::UniqueFd BrowserSocket;
  platform::UniqueFd ServerSocket;
  std::string ClientAddress;

  std::string Method;
  std::string Url;
  std::string HttpVersion;
  MethodCode Code = MethodCode::Other;
  std::string Scheme;
  UrlKind Kind = UrlKind::Other;
  std::string Host;
  std::int32_t Port = 0;
  std::string Path;
  std::string FtpUser;
  std::string FtpPassword;
  bool ViaUpstream = false;

  std::string RequestBuffer;     // the header block as read, then as rewritten for sending
  std::string RequestBodyStart;  // bytes that came with the header block, past its end
  BodyFraming RequestFraming;
  bool ExpectsContinue = false;  // the browser waits for "100 Continue" before its body
  std::string ResponseHeader;  // the server's header block, status line through the empty line
  // The server's bytes until its header block is complete; empty once the body flows.
  std::string ResponseBuffer;
  std::uint64_t BodyBytes = 0;  // body bytes received from the server
  std::uint32_t ContentLength = 0;
  bool HeaderParsed = false;
  bool Cacheable = true;
  std::time_t LastModifiedTime = 0;
  std::string CacheFileName;
  // When the server's header block arrived: the answer's age counts from it.
  std::time_t ResponseTime = 0;
  // The request fields the cache judges by, kept past the sending of the request.
  std::string CacheRequestFields;
  // The body being written to the cache while relayed; dropped (and its file removed)
  // unless the answer proves complete and storable.
  std::optional<cache::ItemWriter> CacheItem;
  // Follows a chunked answer that is kept or searched, so that both see its data without
  // the framing and the answer's end is known without waiting for the server to close.
  std::optional<BodyEnd> ChunkedBody;
  // The abuse-keyword search over the URL and the body as it is relayed; nothing when the
  // instance does not look for abuse.
  std::optional<KeywordScanner> AbuseScan;
};

}  // namespace tenvar::http
