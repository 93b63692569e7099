#include "dialup/ppp_progress.h"

namespace tenvar::dialup {
namespace {

bool Has(std::string_view line, std::string_view part) {
  return line.find(part) != std::string_view::npos;
}

struct PrefixStep {
  std::string_view Prefix;
  DialStep Step;
};

// Lines recognised by their beginning, in the order a dial prints them. Lines in brackets
// ("sent [...]", "rcvd [...]") only appear with pppd's debug option; the rest are notices.
constexpr PrefixStep kPrefixSteps[] = {
    {"using channel", DialStep::PortOpened},          // the ppp channel is attached
    {"abort on (", DialStep::PortOpened},             // chat has the port and starts its script
    {"timeout set to", DialStep::PortOpened},
    {"send (ATZ", DialStep::WaitForModemReset},       // chat resets the modem
    {"send (ATD", DialStep::ConnectDevice},           // chat dials the number
    {"Send PPPOE Discovery", DialStep::ConnectDevice},
    {"CONNECT", DialStep::DeviceConnected},           // the modem's answer, with the line speed
    {"Recv PPPOE Discovery", DialStep::DeviceConnected},
    {"Serial connection established", DialStep::AllDevicesConnected},
    {"PPP session is", DialStep::AllDevicesConnected},
    {"Connected to ", DialStep::AllDevicesConnected},  // PPPoE: the access concentrator
    {"Connect: ", DialStep::AuthLinkSpeed},            // LCP negotiates the link from here
    {"Starting negotiation on", DialStep::AuthLinkSpeed},
    {"rcvd [CHAP Challenge", DialStep::StartAuthentication},
    {"rcvd [EAP Request", DialStep::StartAuthentication},
    {"sent [PAP AuthReq", DialStep::Authenticate},
    {"sent [CHAP Response", DialStep::Authenticate},
    {"sent [EAP Response", DialStep::Authenticate},
    {"rcvd [PAP AuthAck", DialStep::AuthAck},
    {"rcvd [CHAP Success", DialStep::AuthAck},
    {"rcvd [EAP Success", DialStep::AuthAck},
    {"Remote message:", DialStep::AuthAck},  // the server's answer to our credentials
    {"peer from calling number", DialStep::Authenticated},
    {"rcvd [CBCP Request", DialStep::AuthCallback},
    {"sent [CBCP Response", DialStep::CallbackSetByCaller},
    {"sent [IPCP ConfReq", DialStep::AuthProject},
    {"sent [IPV6CP ConfReq", DialStep::AuthProject},
    {"sent [CCP ConfReq", DialStep::AuthProject},
    {"rcvd [IPCP ConfAck", DialStep::Projected},
    {"New bundle ", DialStep::SubEntryConnected},
    {"Link attached to", DialStep::SubEntryConnected},
    {"Link terminated", DialStep::SubEntryDisconnected},
};

}  // namespace

bool IsPppConnectedLine(std::string_view line) { return line.starts_with("local  IP address"); }

std::optional<std::string> PppInterfaceName(std::string_view line) {
  constexpr std::string_view kPrefix = "Using interface ";
  if (!line.starts_with(kPrefix)) return std::nullopt;
  std::string_view name = line.substr(kPrefix.size());
  name = name.substr(0, name.find_first_of(" \t\r"));
  if (name.empty()) return std::nullopt;
  return std::string(name);
}

std::optional<DialStep> PppProgressStep(std::string_view line) {
  if (IsPppConnectedLine(line)) return DialStep::Connected;
  // Failures and the lines that mention a phrase anywhere come before the prefixes: the
  // MS-CHAP failure for an expired password also says "authentication failed".
  if (Has(line, "is locked by pid")) return DialStep::OpenPort;  // the port is busy
  if (Has(line, "E=648") || Has(line, "assword expired")) return DialStep::PasswordExpired;
  if (Has(line, "authentication failed") || Has(line, "Failed to authenticate ourselves")) {
    return DialStep::RetryAuthentication;
  }
  if (Has(line, "authentication succeeded")) return DialStep::AuthNotify;
  if (line.starts_with("Peer ") && Has(line, " authenticated with ")) {
    return DialStep::Authenticated;
  }
  if (Has(line, "Call me back, please")) return DialStep::PrepareForCallback;
  if (Has(line, "compression enabled")) return DialStep::Projected;
  if (line.starts_with("Script ") && Has(line, "auth-up")) return DialStep::LogonNetwork;
  // chat waiting for a terminal server's login or password prompt.
  if (line.starts_with("expect (") && (Has(line, "ogin:") || Has(line, "assword:"))) {
    return DialStep::Interactive;
  }
  for (const PrefixStep& entry : kPrefixSteps) {
    if (line.starts_with(entry.Prefix)) return entry.Step;
  }
  return std::nullopt;
}

}  // namespace tenvar::dialup
