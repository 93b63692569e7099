// The steps a dial goes through as the Remote Access layer reports them, and the text the
// dialling status window shows for each. Plain values and a pure function: thread-safe.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace tenvar::dialup {

// Numbered like the connection states of Remote Access, so logs and texts line up with them.
enum class DialStep : std::uint32_t {
  OpenPort = 0,
  PortOpened = 1,
  ConnectDevice = 2,
  DeviceConnected = 3,
  AllDevicesConnected = 4,
  Authenticate = 5,
  AuthNotify = 6,
  AuthRetry = 7,
  AuthCallback = 8,
  AuthChangePassword = 9,
  AuthProject = 10,
  AuthLinkSpeed = 11,
  AuthAck = 12,
  ReAuthenticate = 13,
  Authenticated = 14,
  PrepareForCallback = 15,
  WaitForModemReset = 16,
  WaitForCallback = 17,
  Projected = 18,
  StartAuthentication = 19,
  CallbackComplete = 20,
  LogonNetwork = 21,
  SubEntryConnected = 22,
  SubEntryDisconnected = 23,
  Interactive = 0x1000,
  RetryAuthentication = 0x1001,
  CallbackSetByCaller = 0x1002,
  PasswordExpired = 0x1003,
  Connected = 0x2000,
  Disconnected = 0x2001,
};

struct DialProgress {
  DialStep Step = DialStep::OpenPort;
  int Error = 0;  // for Disconnected: the exit status of the dialler
};

// The status text for a step; nothing where the text shown so far stays.
std::optional<std::string_view> DialStatusText(DialStep step);

}  // namespace tenvar::dialup
