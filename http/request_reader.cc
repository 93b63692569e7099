#include "http/request_reader.h"

#include <poll.h>

#include <cerrno>
#include <chrono>
#include <memory>

#include "http/proxy_answer.h"
#include "http/session_log.h"
#include "http/trace_file.h"
#include "platform/socket_io.h"
#include "platform/wait.h"

namespace tenvar::http {
namespace {

constexpr std::size_t kReceiveBlock = 8192;
constexpr std::string_view kHeaderEnd = "\r\n\r\n";

}  // namespace

bool ReadRequest(SessionContext& context, HttpSession& session) {
  LogDebug(context, session, "Getting request from browser");
  if (context.Exit.IsSignalled()) return false;

  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::seconds(kRequestHeaderSeconds);
  std::string& request = session.RequestBuffer;
  // The request has usually arrived with the connection: the first read comes before any
  // wait, and waits come only once the socket has nothing more to give. The block is let go
  // while the browser is silent, so a connection that never speaks costs its thread no
  // more than the pages of a shallow stack.
  std::unique_ptr<char[]> block;
  bool mayHaveData = true;
  // The listener usually hands over the whole header block, read while the browser waited
  // there without a thread.
  if (!request.empty()) {
    LogDebug(context, session, "%d bytes read from browser socket",
             static_cast<int>(request.size()));
  }
  std::size_t searchFrom = 0;
  std::size_t headEnd = std::string::npos;
  for (;;) {
    headEnd = request.find(kHeaderEnd, searchFrom);
    // The limit is on the header block itself, wherever the read that ended it stopped.
    const std::size_t headSize =
        headEnd == std::string::npos ? request.size() : headEnd + kHeaderEnd.size();
    if (headSize > kMaxRequestHeaderBytes) {
      SendProxyAnswer(session.BrowserSocket.Get(), "400 Bad Request",
                      "The request header is too large.", context.Exit);
      return false;
    }
    if (headEnd != std::string::npos) break;
    // Only new bytes, and the three before them, can complete the terminator.
    searchFrom = request.size() >= 3 ? request.size() - 3 : 0;

    if (!mayHaveData && platform::WaitFor(session.BrowserSocket.Get(), POLLIN, context.Exit,
                                          deadline) != platform::WaitResult::Ready) {
      return false;
    }
    if (!block) block.reset(new char[kReceiveBlock]);
    const platform::SysResult got =
        platform::ReceiveSome(session.BrowserSocket.Get(), {block.get(), kReceiveBlock});
    mayHaveData = got.Ok() && got.Value > 0;
    if (got.Ok() && got.Value == 0) {
      LogDebug(context, session, "Connection closed by browser");
      return false;
    }
    if (!got.Ok()) {
      if (got.Error == EAGAIN || got.Error == EWOULDBLOCK) {
        block.reset();
        continue;
      }
      LogDebug(context, session, "Error reading from browser socket: %ld", long{got.Error});
      return false;
    }
    LogDebug(context, session, "%d bytes read from browser socket", static_cast<int>(got.Value));
    request.append(block.get(), static_cast<size_t>(got.Value));
  }
  LogDebug(context, session, "Complete request received");
  // What came after the header block is the start of the body (or, for CONNECT, of the
  // tunnel); it is kept apart so the header block can be rewritten on its own.
  session.RequestBodyStart = request.substr(headEnd + kHeaderEnd.size());
  request.resize(headEnd + kHeaderEnd.size());
  AppendTrace(kRequestTrace, request);
  return true;
}

}  // namespace tenvar::http
