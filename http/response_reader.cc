#include "http/response_reader.h"

#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <ctime>
#include <vector>

#include "config/text.h"
#include "http/response_header.h"
#include "http/session_log.h"
#include "http/trace_file.h"
#include "platform/send.h"

namespace tenvar::http {
namespace {

constexpr std::size_t kReceiveBlock = 64 * 1024;

bool HasHeaderLine(std::string_view header, std::string_view name) {
  for (size_t start = header.find("\r\n"); start != std::string_view::npos;
       start = header.find("\r\n", start + 2)) {
    const std::string_view line = header.substr(start + 2);
    if (config::StartsWithIgnoreCase(line, name) && line.size() > name.size() &&
        line[name.size()] == ':') {
      return true;
    }
  }
  return false;
}

// Takes the header block out of ResponseBuffer once it is complete.
void ParseHeaderBlock(SessionContext& context, HttpSession& session, int& status) {
  const std::optional<ResponseHead> head = ParseResponseHead(session.ResponseBuffer);
  if (!head) return;
  status = head->Status;
  if (status != -1 && status != 200) {
    LogDebug(context, session, Format("%d response received, not caching", status));
    session.Cacheable = false;
  }
  AppendTrace(kResponseTrace, std::string_view(session.ResponseBuffer).substr(0, head->HeaderLength));
  session.ContentLength = head->ContentLength;
  session.LastModifiedTime = head->ItemTime ? *head->ItemTime : std::time(nullptr);
  // The body is kept as it came; a coded one would be served later without its coding.
  if (HasHeaderLine(session.ResponseBuffer.substr(0, head->HeaderLength), "Transfer-Encoding") ||
      HasHeaderLine(session.ResponseBuffer.substr(0, head->HeaderLength), "Content-Encoding")) {
    LogDebug(context, session, "Response is encoded, not caching");
    session.Cacheable = false;
  }
  if (head->NoCache) {
    LogDebug(context, session, "Server told us not to cache, not caching");
    session.Cacheable = false;
  }
  session.ResponseHeader = session.ResponseBuffer.substr(0, head->HeaderLength);
  session.ResponseBuffer.erase(0, head->HeaderLength);
  session.BodyBytes = session.ResponseBuffer.size();
  session.HeaderParsed = true;
}

}  // namespace

int ReadResponse(SessionContext& context, HttpSession& session, bool relay) {
  LogDebug(context, session, "Getting response from server");
  int status = -1;
  const bool dialling = context.Config.Settings.Load()->Dial;
  std::vector<char> block(kReceiveBlock);
  for (;;) {
    pollfd entries[2] = {{session.ServerSocket.Get(), POLLIN, 0}, {context.Exit.Fd(), POLLIN, 0}};
    const int ready = ::poll(entries, 2, kServerSilenceSeconds * 1000);
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0 || entries[1].revents != 0) return -1;

    const ssize_t got = ::recv(session.ServerSocket.Get(), block.data(), block.size(), 0);
    if (dialling) context.Dial.ResetIdleTimer();
    if (got == 0) {
      LogDebug(context, session, "Connection was closed by server");
      return session.HeaderParsed ? status : -1;
    }
    if (got < 0) {
      if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) continue;
      LogDebug(context, session, Format("Error reading from server socket: %ld", long{errno}));
      return -1;
    }
    LogDebug(context, session, Format("%d bytes received from server", static_cast<int>(got)));
    if (relay && platform::SendBuffer(session.BrowserSocket.Get(), block.data(),
                                      static_cast<size_t>(got), context.Exit) != 0) {
      return -1;
    }

    if (!session.HeaderParsed) {
      session.ResponseBuffer.append(block.data(), static_cast<size_t>(got));
      ParseHeaderBlock(context, session, status);
      // A header block that never ends is not HTTP; stop before it eats the memory.
      if (!session.HeaderParsed && session.ResponseBuffer.size() > kMaxBufferedBody) return -1;
    } else {
      session.BodyBytes += static_cast<std::uint64_t>(got);
      if (session.ResponseBuffer.size() + static_cast<size_t>(got) <= kMaxBufferedBody) {
        session.ResponseBuffer.append(block.data(), static_cast<size_t>(got));
      } else {
        session.Cacheable = false;  // only part of the body is held
      }
    }
    if (session.HeaderParsed && session.ContentLength != 0 &&
        session.BodyBytes >= session.ContentLength) {
      LogDebug(context, session, "Received number of bytes according to Content-Length header");
      return status;
    }
  }
}

}  // namespace tenvar::http
