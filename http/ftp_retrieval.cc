#include "http/ftp_retrieval.h"

#include <cerrno>
#include <chrono>
#include <vector>

#include "cache/content_type.h"
#include "ftpproxy/control_text.h"
#include "http/proxy_answer.h"
#include "http/request_analysis.h"
#include "http/response_reader.h"
#include "http/server_connection.h"
#include "http/session_log.h"
#include "http/session_send.h"
#include "platform/file_system.h"
#include "platform/name_lookups.h"
#include "platform/paths.h"
#include "platform/send_file.h"
#include "platform/socket.h"
#include "platform/socket_io.h"
#include "platform/wait.h"
#include "platform/write_all.h"

namespace tenvar::http {
namespace {

constexpr std::size_t kBlockSize = 64 * 1024;
// Replies are short; a server that sends this much without ending one is not talking FTP.
constexpr std::size_t kMaxReplyText = 64 * 1024;
constexpr std::string_view kBadGateway = "502 Bad Gateway";

using ftpproxy::FtpReply;
using ftpproxy::TakeFtpReply;

bool Transient(int error) { return error == EAGAIN || error == EWOULDBLOCK || error == EINTR; }

// A file of its own in the temporary directory, removed when the object goes, on every way
// out of a retrieval.
class TemporaryFile {
 public:
  explicit TemporaryFile(const std::string& directory) {
    if (directory.empty() || !platform::CreateDirectories(directory)) return;
    std::string pattern = directory + "/ftp-XXXXXX";
    fd_ = platform::CreateUniqueFile(pattern);
    if (fd_.Valid()) path_ = pattern;
  }
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;
  ~TemporaryFile() {
    if (!path_.empty()) platform::RemoveFile(path_);
  }

  bool Valid() const { return fd_.Valid(); }
  int Fd() const { return fd_.Get(); }

 private:
  platform::UniqueFd fd_;
  std::string path_;
};

// One retrieval's conversation with the server. Each step either goes on or records why
// the browser gets no item (`failure_`, empty when nothing should be said, as at exit).
class FtpRetrieval {
 public:
  FtpRetrieval(SessionContext& context, HttpSession& session)
      : context_(context),
        session_(session),
        dialling_(context.Config.Settings.Load()->Dial),
        tempDir_(context.Config.Settings.Load()->TempDir) {}

  void Run() {
    if (!Connect()) return Answer();
    if (!LogIn() || !FindItem() || !Fetch()) return Answer();
    // The server has nothing more to do for us; its answer to QUIT is not awaited.
    SendToServer(context_, session_, "QUIT\r\n");
    SendItem();
  }

 private:
  bool Connect() {
    const std::optional<platform::Resolution> found =
        platform::ResolveIPv4Until(session_.Host, context_.Exit, 2);
    if (!found) return false;  // shutting down
    const platform::Resolution& resolution = *found;
    if (!resolution.Address) {
      return Fail(Format("Cannot resolve server name %s: %ld", session_.Host.c_str(),
                         static_cast<long>(resolution.Error)));
    }
    serverAddress_ = *resolution.Address;
    int error = EINVAL;
    if (session_.Port > 0 && session_.Port <= 65535) {
      session_.ServerSocket = platform::StartConnect(
          *resolution.Address, static_cast<std::uint16_t>(session_.Port), error);
    }
    if (!session_.ServerSocket.Valid() ||
        !platform::ConnectWithin(session_.ServerSocket.Get(), kConnectTimeout, context_.Exit.Fd(),
                                 error)) {
      LogDebug(context_, session_, "!! - connect returned an error: %ld", long{error});
      if (error == ECANCELED) return false;
      return Fail(Format("Cannot connect to FTP server %s on port %d", session_.Host.c_str(),
                         static_cast<int>(session_.Port)));
    }
    return true;
  }

  bool LogIn() {
    std::optional<FtpReply> reply = Converse("");
    if (!reply) return false;
    if (reply->Code != 220) return Fail(reply->Text);
    reply = Converse("USER " + session_.FtpUser + "\r\n");
    if (!reply) return false;
    if (reply->Code == 331 || reply->Code == 332) {
      reply = Converse(FtpPassCommand(session_.FtpUser, session_.FtpPassword));
      if (!reply) return false;
    }
    if (reply->Code / 100 != 2) return Fail(reply->Text);
    return true;
  }

  // Makes Path absolute and decides whether it names a directory: one the server lets us
  // change into is listed, anything else is fetched as a file.
  bool FindItem() {
    std::optional<FtpReply> reply = Converse("PWD\r\n");
    if (!reply) return false;
    const std::optional<std::string> directory =
        reply->Code == 257 ? ParseDirectoryReply(reply->Text) : std::nullopt;
    if (directory) session_.Path = FtpPathIn(*directory, session_.Path);

    reply = Converse("SIZE " + session_.Path + "\r\n");
    if (!reply) return false;
    if (reply->Code != 213) {
      reply = Converse("CWD " + session_.Path + "\r\n");
      if (!reply) return false;
      isDirectory_ = reply->Code / 100 == 2;
    }
    reply = Converse(isDirectory_ ? "TYPE A\r\n" : "TYPE I\r\n");
    if (!reply) return false;
    if (reply->Code / 100 != 2) return Fail(reply->Text);
    return true;
  }

  bool Fetch() {
    std::optional<FtpReply> reply = Converse("PASV\r\n");
    if (!reply) return false;
    const std::optional<ftpproxy::DataAddress> target =
        reply->Code == 227 ? ftpproxy::ParsePassiveReply(reply->Text) : std::nullopt;
    if (!target) return Fail(reply->Text);

    // Only the port of the reply is used: a server behind NAT names an address nobody can
    // reach, and a hostile one could name a third host for the proxy to connect to.
    int error = EINVAL;
    platform::UniqueFd data = platform::StartConnect(serverAddress_, target->Port, error);
    if (!data.Valid() ||
        !platform::ConnectWithin(data.Get(), kConnectTimeout, context_.Exit.Fd(), error)) {
      if (error == ECANCELED) return false;
      return Fail(Format("Cannot open the FTP data connection to %s:%d",
                         platform::FormatAddress(serverAddress_).c_str(),
                         static_cast<int>(target->Port)));
    }

    const std::string command = isDirectory_ ? "LIST\r\n" : "RETR " + session_.Path + "\r\n";
    if (!SendToServer(context_, session_, command)) return Lost();
    reply = NextReply();
    if (!reply) return false;
    if (reply->Code / 100 != 1) return Fail(reply->Text);

    file_.emplace(tempDir_);
    if (!file_->Valid()) return Fail("Cannot create a temporary file in " + tempDir_);
    return ReceiveData(data.Get());
  }

  // Copies the data connection into the temporary file until it ends and the server has
  // said how the transfer went.
  bool ReceiveData(int data) {
    std::optional<FtpReply> final;
    bool dataEnded = false;
    std::vector<char> block(kBlockSize);
    for (;;) {
      while (!final) {
        std::optional<FtpReply> reply = TakeFtpReply(received_);
        if (!reply) break;
        if (reply->Code / 100 != 1) final = std::move(reply);
      }
      if (final && final->Code / 100 != 2) return Fail(final->Text);
      if (final && dataEnded) return true;

      pollfd entries[3] = {{dataEnded ? -1 : data, POLLIN, 0},
                           {final ? -1 : session_.ServerSocket.Get(), POLLIN, 0},
                           {context_.Exit.Fd(), POLLIN, 0}};
      const platform::SysResult ready = platform::Poll(entries, kServerSilenceSeconds * 1000);
      if (ready.Error == EINTR) continue;
      if (!ready.Ok() || entries[2].revents != 0) return false;
      if (ready.Value == 0) return Fail("The FTP server sent nothing for 15 minutes");

      if (entries[0].revents != 0) {
        const platform::SysResult got = platform::ReceiveSome(data, block);
        if (got.Ok() && got.Value > 0) {
          if (dialling_) context_.Dial.ResetIdleTimer();
          const std::string_view bytes(block.data(), static_cast<std::size_t>(got.Value));
          if (!platform::WriteAll(file_->Fd(), bytes)) {
            return Fail("Cannot write the temporary file in " + tempDir_);
          }
          itemSize_ += bytes.size();
        } else if (got.Ok()) {
          dataEnded = true;
        } else if (!Transient(got.Error)) {
          LogDebug(context_, session_, "Error reading from FTP data socket: %ld", long{got.Error});
          return Fail("The FTP data connection failed");
        }
      }
      if (entries[1].revents != 0 && !ReceiveControl()) return Lost();
    }
  }

  // The next reply that is not a preliminary one, after sending `command` (if any).
  std::optional<FtpReply> Converse(const std::string& command) {
    if (!command.empty() && !SendToServer(context_, session_, command)) {
      Lost();
      return std::nullopt;
    }
    for (;;) {
      std::optional<FtpReply> reply = NextReply();
      if (!reply || reply->Code / 100 != 1) return reply;
    }
  }

  std::optional<FtpReply> NextReply() {
    for (;;) {
      if (std::optional<FtpReply> reply = TakeFtpReply(received_)) return reply;
      const platform::WaitResult ready = platform::WaitFor(
          session_.ServerSocket.Get(), POLLIN, context_.Exit,
          std::chrono::steady_clock::now() + std::chrono::seconds(kServerSilenceSeconds));
      if (ready == platform::WaitResult::Exit) return std::nullopt;
      if (ready == platform::WaitResult::TimedOut) {
        Fail("The FTP server sent nothing for 15 minutes");
        return std::nullopt;
      }
      if (!ReceiveControl()) {
        Lost();
        return std::nullopt;
      }
    }
  }

  // Appends what the control connection has; false once it has ended or failed.
  bool ReceiveControl() {
    char block[8192];
    const platform::SysResult got = platform::ReceiveSome(session_.ServerSocket.Get(), block);
    if (!got.Ok()) return Transient(got.Error);
    if (got.Value == 0) return false;
    if (dialling_) context_.Dial.ResetIdleTimer();
    received_.append(block, static_cast<std::size_t>(got.Value));
    return received_.size() < kMaxReplyText;
  }

  void SendItem() {
    std::string head = "HTTP/1.0 200 OK\r\nContent-Type: ";
    head.append(isDirectory_ ? std::string_view("text/plain")
                             : cache::ContentTypeFor(session_.Path))
        .append("\r\nContent-Length: ")
        .append(std::to_string(itemSize_))
        .append("\r\nConnection: close\r\n\r\n");
    if (!SendToBrowser(context_, session_, head)) return;
    if (session_.Code == MethodCode::Head) return;
    const platform::FileSendResult sent =
        platform::SendFileWithin(session_.BrowserSocket.Get(), file_->Fd(), 0, itemSize_,
                                 context_.Exit, context_.SendStallLimit);
    if (sent == platform::FileSendResult::Stalled || sent == platform::FileSendResult::Failed) {
      LogSendFailure(context_, session_, "browser");
    }
  }

  bool Fail(std::string text) {
    failure_ = std::move(text);
    return false;
  }
  bool Lost() { return Fail("The FTP server closed the connection"); }

  void Answer() {
    if (failure_.empty() || context_.Exit.IsSignalled()) return;
    SendProxyAnswer(session_.BrowserSocket.Get(), kBadGateway, failure_, context_.Exit,
                    context_.SendStallLimit);
  }

  SessionContext& context_;
  HttpSession& session_;
  const bool dialling_;
  const std::string tempDir_;
  in_addr serverAddress_{};            // where the control connection goes, and so the data one
  std::optional<TemporaryFile> file_;  // from the start of the transfer to the end
  std::string received_;               // control text not yet taken as replies
  bool isDirectory_ = false;
  std::uint64_t itemSize_ = 0;
  std::string failure_;
};

}  // namespace

std::optional<std::string> ParseDirectoryReply(std::string_view reply) {
  const std::size_t open = reply.find('"');
  if (open == std::string_view::npos) return std::nullopt;
  std::string directory;
  for (std::size_t at = open + 1; at < reply.size(); ++at) {
    if (reply[at] != '"') {
      directory += reply[at];
    } else if (at + 1 < reply.size() && reply[at + 1] == '"') {
      directory += '"';
      ++at;
    } else {
      return directory;
    }
  }
  return std::nullopt;
}

std::string FtpPathIn(std::string_view directory, std::string_view path) {
  std::string full(directory);
  if (path.empty()) return full.empty() ? "/" : full;
  if (full.empty() || full.back() != '/') full += '/';
  return full.append(path);
}

std::string FtpPassCommand(std::string_view user, std::string_view password) {
  const bool anonymousDefault = user == "anonymous" && password == kAnonymousFtpPassword;
  return "PASS " + std::string(anonymousDefault ? "-" : "") + std::string(password) + "\r\n";
}

void RetrieveFtpItem(SessionContext& context, HttpSession& session) {
  if (context.Exit.IsSignalled() || !EnsureLineIsUp(context, session)) return;
  FtpRetrieval(context, session).Run();
}

}  // namespace tenvar::http
