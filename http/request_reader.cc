#include "http/request_reader.h"

#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <chrono>
#include <memory>

#include "http/proxy_answer.h"
#include "http/request_policy.h"
#include "http/session_log.h"
#include "http/trace_file.h"

namespace tenvar::http {
namespace {

constexpr std::size_t kReceiveBlock = 8192;

enum class Wait { Readable, TimedOut, Exit };

Wait WaitReadable(int socket, const platform::ExitEvent& exitEvent,
                  std::chrono::steady_clock::time_point deadline) {
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return Wait::TimedOut;
    pollfd entries[2] = {{socket, POLLIN, 0}, {exitEvent.Fd(), POLLIN, 0}};
    const int ready = ::poll(entries, 2, static_cast<int>(left.count()));
    if (ready < 0 && errno == EINTR) continue;
    if (ready < 0 || entries[1].revents != 0) return Wait::Exit;
    if (ready > 0) return Wait::Readable;
  }
}

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
  for (;;) {
    if (!mayHaveData) {
      const Wait wait = WaitReadable(session.BrowserSocket.Get(), context.Exit, deadline);
      if (wait != Wait::Readable) return false;
    }
    if (!block) block.reset(new char[kReceiveBlock]);
    const ssize_t got = ::recv(session.BrowserSocket.Get(), block.get(), kReceiveBlock, 0);
    mayHaveData = got > 0;
    if (got == 0) {
      LogDebug(context, session, "Connection closed by browser");
      return false;
    }
    if (got < 0) {
      if (errno == EAGAIN || errno == EWOULDBLOCK) block.reset();
      if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) continue;
      LogDebug(context, session, Format("Error reading from browser socket: %ld", long{errno}));
      return false;
    }
    if (session.Options->EnableLogging && session.Options->Debug) {
      LogDebug(context, session,
               Format("%d bytes read from browser socket", static_cast<int>(got)));
    }
    // Only the new bytes, and the three before them, can complete the terminator.
    const size_t searchFrom = request.size() >= 3 ? request.size() - 3 : 0;
    request.append(block.get(), static_cast<size_t>(got));
    if (request.find("\r\n\r\n", searchFrom) != std::string::npos) break;
    if (request.size() > kMaxRequestHeaderBytes) {
      SendProxyAnswer(session.BrowserSocket.Get(), "400 Bad Request",
                      "The request header is too large.", context.Exit);
      return false;
    }
  }
  LogDebug(context, session, "Complete request received");
  AppendTrace(kRequestTrace, request);
  return AnalyseRequest(context, session);
}

}  // namespace tenvar::http
