#include "http/response_reader.h"

#include <poll.h>

#include <cerrno>
#include <chrono>
#include <ctime>
#include <memory>
#include <optional>

#include "http/cache_item.h"
#include "http/response_header.h"
#include "http/session_log.h"
#include "http/session_send.h"
#include "http/trace_file.h"
#include "platform/socket_io.h"
#include "platform/splice_pipe.h"
#include "platform/wait.h"

namespace tenvar::http {
namespace {

// The head of a response, and the start of its body, are read in blocks this large; a body
// that is kept is read in larger ones. A relayed body nobody keeps goes through a pipe
// once it is longer than a head block, so the smaller block is all such a session holds.
constexpr std::size_t kHeadBlock = 16 * 1024;
constexpr std::size_t kReceiveBlock = 64 * 1024;
// What one splice moves at most, and the pipe size asked for (the kernel may grant less).
constexpr std::size_t kPipeBytes = 1024 * 1024;

// Whether the body must pass through this process: to be stored, or searched for keywords.
bool BodyIsUsed(const HttpSession& session) {
  return session.CacheItem || (session.AbuseScan && session.AbuseScan->WantsMore());
}

// Takes the header block out of ResponseBuffer once it is complete.
void ParseHeaderBlock(SessionContext& context, HttpSession& session, int& status) {
  const std::optional<ResponseHead> head = ParseResponseHead(session.ResponseBuffer);
  if (!head) return;
  status = head->Status;
  session.ResponseTime = std::time(nullptr);
  if (status != -1 && status != 200) {
    LogDebug(context, session, "%d response received, not caching", status);
    session.Cacheable = false;
  }
  const std::string_view headerBlock =
      std::string_view(session.ResponseBuffer).substr(0, head->HeaderLength);
  AppendTrace(kResponseTrace, headerBlock);
  session.ContentLength = head->ContentLength;
  session.LastModifiedTime = head->ItemTime ? *head->ItemTime : std::time(nullptr);
  // A chunked body is kept without its framing; under any other coding it could not be
  // served as it came.
  if (head->Coding == TransferCoding::Other) {
    LogDebug(context, session, "Response is encoded, not caching");
    session.Cacheable = false;
  }
  if (head->NoCache) {
    LogDebug(context, session, "Server told us not to cache, not caching");
    session.Cacheable = false;
  }
  BeginCacheItem(context, session, headerBlock);
  if (head->Coding == TransferCoding::Chunked && BodyIsUsed(session)) {
    session.ChunkedBody.emplace(BodyFraming{BodyFraming::Kind::Chunked, 0});
  }
  session.ResponseHeader = session.ResponseBuffer.substr(0, head->HeaderLength);
  session.ResponseBuffer.erase(0, head->HeaderLength);
  session.BodyBytes = session.ResponseBuffer.size();
  session.HeaderParsed = true;
}

// Hands body bytes to the cache and the keyword search, a chunked body's data without its
// framing; true once a chunked body has ended. Framing that cannot be followed ends the
// cache's copy, and the search goes on over the bytes as they come.
bool PassBodyOn(SessionContext& context, HttpSession& session, std::string_view body) {
  if (session.ChunkedBody) {
    std::size_t used = 0;
    const BodyEnd::State state = session.ChunkedBody->Feed(body, used, [&](std::string_view data) {
      WriteCacheItem(session, data);
      if (session.AbuseScan) session.AbuseScan->Feed(data);
    });
    if (state == BodyEnd::State::Complete) return true;
    if (state == BodyEnd::State::NeedMore) return false;
    LogDebug(context, session, "Malformed chunked response, not caching");
    session.ChunkedBody.reset();
    session.CacheItem.reset();
    session.Cacheable = false;
    body.remove_prefix(used);
  }
  WriteCacheItem(session, body);
  if (session.AbuseScan) session.AbuseScan->Feed(body);
  return false;
}

bool DebugLogging(const HttpSession& session) {
  return session.Options->EnableLogging && session.Options->Debug;
}

// Waits for the server's next bytes as the copying loop does: false on time-out, error or
// exit.
bool WaitForServer(const SessionContext& context, const HttpSession& session) {
  return platform::WaitFor(
             session.ServerSocket.Get(), POLLIN, context.Exit,
             std::chrono::steady_clock::now() + std::chrono::seconds(kServerSilenceSeconds)) ==
         platform::WaitResult::Ready;
}

// Moves `count` bytes from the pipe to the browser; false when the browser fails, takes
// nothing for the stall limit, or the exit event comes first, as for a send.
bool DrainPipe(const SessionContext& context, const HttpSession& session,
               platform::SplicePipe& pipe, std::size_t count) {
  const int browser = session.BrowserSocket.Get();
  while (count > 0) {
    const platform::SysResult moved = pipe.Drain(browser, count);
    if (moved.Ok() && moved.Value > 0) {
      count -= static_cast<std::size_t>(moved.Value);
      continue;
    }
    if ((moved.Error == EAGAIN || moved.Error == EWOULDBLOCK) &&
        platform::WaitFor(browser, POLLOUT, context.Exit,
                          std::chrono::steady_clock::now() + context.SendStallLimit) ==
            platform::WaitResult::Ready) {
      continue;
    }
    LogSendFailure(context, session, "browser");
    return false;
  }
  return true;
}

// Whether the rest of the body is long enough to pay for a pipe: more than a block to come
// by its Content-Length, or, without one, a body still arriving in whole blocks.
bool WorthAPipe(const HttpSession& session, std::size_t blockSize, std::size_t lastReceived) {
  if (session.ContentLength != 0) {
    return session.ContentLength > session.BodyBytes &&
           session.ContentLength - session.BodyBytes > blockSize;
  }
  return lastReceived == blockSize;
}

// Relays the rest of a body that nobody keeps from the server straight to the browser
// through a pipe, so its bytes are never copied through this process. Waits, logging and
// the end of the response are those of the copying loop: true when the body went to its
// end. Nothing when no pipe can be had; the caller copies instead.
std::optional<bool> SpliceBody(SessionContext& context, HttpSession& session, bool debug,
                               bool dialling) {
  std::optional<platform::SplicePipe> pipe = platform::SplicePipe::Open(kPipeBytes);
  if (!pipe) return std::nullopt;
  // Each read is tried before it is waited for: while the body streams, the next bytes
  // are usually there already, and the wait would be a system call for nothing.
  for (;;) {
    if (context.Exit.IsSignalled()) return false;
    const platform::SysResult got = pipe->Fill(session.ServerSocket.Get(), kPipeBytes);
    if (got.Error == EAGAIN || got.Error == EWOULDBLOCK) {
      if (!WaitForServer(context, session)) return false;
      continue;
    }
    if (dialling) context.Dial.ResetIdleTimer();
    if (!got.Ok()) {
      LogDebug(context, session, "Error reading from server socket: %ld", long{got.Error});
      return false;
    }
    if (got.Value == 0) {
      LogDebug(context, session, "Connection was closed by server");
      return true;
    }
    if (debug) {
      LogDebug(context, session, "%d bytes received from server", static_cast<int>(got.Value));
    }
    const auto moved = static_cast<std::size_t>(got.Value);
    if (!DrainPipe(context, session, *pipe, moved)) return false;
    session.BodyBytes += moved;
    if (session.ContentLength != 0 && session.BodyBytes >= session.ContentLength) {
      LogDebug(context, session, "Received number of bytes according to Content-Length header");
      return true;
    }
  }
}

}  // namespace

ResponseOutcome ReadResponse(SessionContext& context, HttpSession& session, bool holdNotModified) {
  LogDebug(context, session, "Getting response from server");
  const bool debug = DebugLogging(session);
  int status = -1;
  using Result = ResponseOutcome::Result;
  const auto failed = [&] {
    return ResponseOutcome{session.HeaderParsed ? Result::BrokenOff : Result::NoAnswer, status};
  };
  const auto relayed = [&] {
    return status < 0 ? failed() : ResponseOutcome{Result::Relayed, status};
  };
  const bool dialling = context.Config.Settings.Load()->Dial;
  // Every byte is written by recv() before it is read, so the block is left uninitialised.
  std::size_t blockSize = kHeadBlock;
  std::unique_ptr<char[]> block(new char[blockSize]);
  bool relay = true;
  bool splice = true;
  // The answer's first bytes are waited for; later reads are tried first, as in SpliceBody.
  bool wait = true;
  for (;;) {
    if (wait && !WaitForServer(context, session)) return failed();
    if (context.Exit.IsSignalled()) return failed();
    const platform::SysResult got =
        platform::ReceiveSome(session.ServerSocket.Get(), {block.get(), blockSize});
    wait = got.Error == EAGAIN || got.Error == EWOULDBLOCK;
    if (wait) continue;
    if (dialling) context.Dial.ResetIdleTimer();
    if (!got.Ok()) {
      LogDebug(context, session, "Error reading from server socket: %ld", long{got.Error});
      return failed();
    }
    if (got.Value == 0) {
      LogDebug(context, session, "Connection was closed by server");
      return relayed();
    }
    if (debug) {
      LogDebug(context, session, "%d bytes received from server", static_cast<int>(got.Value));
    }
    const std::string_view received(block.get(), static_cast<std::size_t>(got.Value));
    const bool headerBefore = session.HeaderParsed;
    // The body's bytes in this block: all of it once the head is known, else what followed
    // the head in the block that completed it.
    std::string bodyStart;
    std::string_view body = received;
    if (!headerBefore) {
      session.ResponseBuffer.append(received);
      ParseHeaderBlock(context, session, status);
      if (!session.HeaderParsed) {
        // A header block that never ends is not HTTP; stop before it eats the memory.
        if (session.ResponseBuffer.size() > kMaxResponseHeaderBytes) {
          LogDebug(context, session, "Response header too large");
          return failed();
        }
        if (!holdNotModified && !SendToBrowser(context, session, received)) return failed();
        continue;
      }
      bodyStart.swap(session.ResponseBuffer);
      body = bodyStart;
    } else {
      session.BodyBytes += received.size();
    }
    const bool chunkedEnd = PassBodyOn(context, session, body);
    const bool complete =
        chunkedEnd || (session.ContentLength != 0 && session.BodyBytes >= session.ContentLength);
    // A complete item goes into place before the browser sees the end of it, so that a
    // browser asking again at once finds it.
    if (complete) StoreCacheItem(context, session);

    if (!headerBefore && holdNotModified) {
      // A held head goes out once it is known not to be a 304.
      if (status == 304) {
        relay = false;
      } else if (!SendToBrowser(context, session, session.ResponseHeader) ||
                 !SendToBrowser(context, session, bodyStart)) {
        return failed();
      }
    } else if (relay && !SendToBrowser(context, session, received)) {
      return failed();
    }
    if (complete) {
      LogDebug(context, session,
               chunkedEnd ? "Received the last chunk"
                          : "Received number of bytes according to Content-Length header");
      return relayed();
    }
    if (!headerBefore) {
      std::string().swap(bodyStart);
      if (BodyIsUsed(session)) {
        blockSize = kReceiveBlock;
        block.reset(new char[blockSize]);
      }
    }
    if (relay && splice && !BodyIsUsed(session) &&
        WorthAPipe(session, blockSize, received.size())) {
      const std::optional<bool> spliced = SpliceBody(context, session, debug, dialling);
      if (spliced) return *spliced ? relayed() : failed();
      splice = false;
    }
  }
}

}  // namespace tenvar::http
