#include "dialup/dial_progress.h"

namespace tenvar::dialup {

std::optional<std::string_view> DialStatusText(DialStep step) {
  switch (step) {
    // Opening the port is reported before it is open; "Port opened" belongs to the next step.
    case DialStep::OpenPort: return "Opening port";
    case DialStep::PortOpened: return "Port opened";
    case DialStep::ConnectDevice: return "Connecting...";
    case DialStep::DeviceConnected: return "Device connected";
    case DialStep::AllDevicesConnected: return "Physical connection established";
    case DialStep::Authenticate: return "Authenticating username and password";
    case DialStep::AuthNotify: return "Authentication successful";
    case DialStep::AuthRetry: return std::nullopt;
    case DialStep::AuthCallback: return "Server requested callback number";
    case DialStep::AuthChangePassword: return std::nullopt;
    case DialStep::AuthProject: return "Projection phase started";
    case DialStep::AuthLinkSpeed: return "Calculating link speed";
    case DialStep::AuthAck: return "Authentication request acknowledged";
    case DialStep::ReAuthenticate: return "Reauthentication started";
    case DialStep::Authenticated: return "Successfully authenticated";
    case DialStep::PrepareForCallback: return "Preparing for callback";
    case DialStep::WaitForModemReset: return "Waiting for modem to reset";
    case DialStep::WaitForCallback: return "Waiting for callback";
    case DialStep::Projected: return "Projection information ready";
    case DialStep::StartAuthentication: return "Authentication started";
    case DialStep::CallbackComplete: return "Callback complete";
    case DialStep::LogonNetwork: return "Logging onto network";
    case DialStep::SubEntryConnected: return "Multilink subentry connected";
    case DialStep::SubEntryDisconnected: return "Multilink subentry disconnected";
    case DialStep::Interactive: return "Terminal state";
    case DialStep::RetryAuthentication: return "Retry authentication";
    case DialStep::CallbackSetByCaller: return "Callback set by caller";
    case DialStep::PasswordExpired: return "Password expired";
    case DialStep::Connected: return "Connected successfully.";
    case DialStep::Disconnected: return "Disconnected";
  }
  return std::nullopt;
}

}  // namespace tenvar::dialup
