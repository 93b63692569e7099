// One FTP client of the proxy: its control connection, the control connection to the
// server it opened, and the data pair of the current transfer. Owned by the FTP proxy
// service and touched only by its thread.
#pragma once

#include <cstdint>
#include <string>

#include "platform/unique_fd.h"

namespace tenvar::ftpproxy {

// One socket of a session and the bytes still to be sent on it. While a remainder is not
// empty, the socket that feeds it is not read: a slow receiver holds back only its sender.
struct FtpEndpoint {
  platform::UniqueFd Socket;
  bool Connecting = false;  // a non-blocking connect has not finished yet
  bool Closed = false;      // the peer has sent its end of file
  std::string Unsent;

  void Reset() { *this = FtpEndpoint(); }
};

enum class OpenState {
  NotOpen,          // no server yet: OPEN is awaited
  LookingUp,        // a resolver thread is finding the server's address
  AwaitingGreeting, // connecting to the server, or waiting for its first reply
  Open,             // commands and replies pass through
};

enum class TransferState {
  None,          // no data pair, or its end has been reported
  Open,          // a data pair exists (PORT was rewritten)
  EndedClean,    // every byte was relayed and both data connections were closed
  EndedFailed,   // a data connection failed; the transfer cannot be complete
};

struct FtpSession {
  std::uint64_t Id = 0;
  FtpEndpoint Client;      // the FTP client's control connection
  FtpEndpoint Server;      // to the destination server's control port
  FtpEndpoint ClientData;  // from the proxy to the address of the client's PORT command
  FtpEndpoint ServerData;  // the proxy's listening data socket, then the accepted connection
  bool ServerDataAccepted = false;
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
