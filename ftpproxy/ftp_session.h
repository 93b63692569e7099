// One FTP client of the proxy: its control connection, the control connection to the
// server it opened, and the data pair of the current transfer. Owned by the FTP proxy
// service and touched only by its thread.
#pragma once

#include <netinet/in.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>

#include "platform/epoll.h"
#include "platform/unique_fd.h"

namespace tenvar::ftpproxy {

// One socket of a session and the bytes still to be sent on it. While a remainder is not
// empty, the socket that feeds it is not read: a slow receiver holds back only its sender.
// A socket leaves the service's epoll set before it closes: a child forked meanwhile would
// keep a closed socket alive, and in the set, under a number a new socket may take.
struct FtpEndpoint {
  FtpEndpoint() = default;
  FtpEndpoint(const FtpEndpoint&) = delete;
  FtpEndpoint& operator=(const FtpEndpoint&) = delete;
  ~FtpEndpoint() { Unwatch(); }

  platform::UniqueFd Socket;
  bool Connecting = false;  // a non-blocking connect has not finished yet
  // Socket is a data listener waiting for Expected. Anyone may connect to a listening port,
  // so a connection from any other address is closed: it could inject or steal data.
  bool Listening = false;
  in_addr Expected{};
  bool Closed = false;      // the peer has sent its end of file
  // A data listener whose accept found no free descriptor is not watched for a while.
  bool AcceptPaused = false;
  std::string Unsent;
  // Since when Unsent has waited without the peer taking any of it; unset while empty.
  std::optional<std::chrono::steady_clock::time_point> WaitingSince;
  // The epoll set Socket is in, with the events last registered; none while WatchedBy is
  // null. Kept by the service.
  platform::EpollSet* WatchedBy = nullptr;
  std::uint32_t WatchedEvents = 0;

  // Connected, neither listening nor still connecting.
  bool Established() const { return Socket.Valid() && !Listening && !Connecting; }

  // Every new socket goes in through here, and every close through CloseSocket or Reset.
  void Use(platform::UniqueFd socket) {
    Unwatch();
    Socket = std::move(socket);
  }
  void CloseSocket() { Use(platform::UniqueFd()); }

  void Reset() {
    CloseSocket();
    Connecting = false;
    Listening = false;
    Expected = {};
    Closed = false;
    AcceptPaused = false;
    Unsent.clear();
    WaitingSince.reset();
  }

 private:
  void Unwatch() {
    if (WatchedBy != nullptr && Socket.Valid()) WatchedBy->Remove(Socket.Get());
    WatchedBy = nullptr;
    WatchedEvents = 0;
  }
};

enum class OpenState {
  NotOpen,          // no server yet: OPEN is awaited
  LookingUp,        // a resolver thread is finding the server's address
  AwaitingGreeting, // connecting to the server, or waiting for its first reply
  Open,             // commands and replies pass through
};

enum class TransferState {
  None,         // no data pair, or its end has been reported
  Open,         // a data pair exists (after PORT, EPRT or a passive reply)
  EndedClean,   // every byte was relayed and both data connections were closed
  EndedFailed,  // a data connection failed; the transfer cannot be complete
};

// What the client asked for while the server's answer to the proxy's PASV is awaited.
enum class PassiveRequest { None, Pasv, Epsv };

// Every data connection passes through the proxy. A client in active mode (PORT, EPRT) is
// connected to by the proxy, and the server is sent a PORT for a listener of the proxy's. A
// client in passive mode (PASV, EPSV) connects to a listener of the proxy's, and the proxy
// itself connects to the server's passive port, always at the server's control address.
struct FtpSession {
  std::uint64_t Id = 0;
  in_addr ClientAddress{};  // the client's address, the only one its data may come from
  in_addr ServerAddress{};  // the server's address, the only one its data may come from
  FtpEndpoint Client;      // the FTP client's control connection
  FtpEndpoint Server;      // to the destination server's control port
  FtpEndpoint ClientData;  // the client's data connection, or the listener awaiting it
  FtpEndpoint ServerData;  // the server's data connection, or the listener awaiting it
  PassiveRequest PassiveAsked = PassiveRequest::None;
  // "USER name\r\n" of a "USER name@host" login, sent in place of greeting the client once
  // the server has greeted the proxy.
  std::string LoginLine;
  // The server reported a transfer complete and the client has not been told yet: that is
  // done once the data pair has ended, so the report never overtakes the data.
  bool TransferDone = false;
  TransferState Transfer = TransferState::None;
  OpenState State = OpenState::NotOpen;
  std::string DestinationHost;
  std::uint16_t DestinationPort = 21;

  std::string ClientText;  // client command text not yet acted on
  std::string ServerText;  // server reply text not yet acted on
  int ReplyInProgress = 0;   // the code of a multi-line reply whose last line is awaited
  bool DropReply = false;    // that reply's lines are not passed on
  bool EndWhenSent = false;  // the session ends once Client.Unsent has gone
  bool Ended = false;        // the session is removed at the start of the next round
};

}  // namespace tenvar::ftpproxy
