#include "ftpproxy/control_text.h"

#include <arpa/inet.h>

#include <array>
#include <cctype>
#include <charconv>

namespace tenvar::ftpproxy {
namespace {

constexpr std::string_view kBlanks = " \t";

std::string_view Trim(std::string_view text) {
  const std::size_t first = text.find_first_not_of(kBlanks);
  if (first == std::string_view::npos) return {};
  const std::size_t last = text.find_last_not_of(kBlanks);
  return text.substr(first, last - first + 1);
}

std::optional<unsigned> ParseNumber(std::string_view text, unsigned maximum) {
  text = Trim(text);
  unsigned value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || error != std::errc() || end != text.data() + text.size() || value > maximum) {
    return std::nullopt;
  }
  return value;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// "h1,h2,h3,h4,p1,p2": the address bytes in network order, then the port's two halves.
std::string HostPortText(const DataAddress& address) {
  const std::uint32_t host = ntohl(address.Address.s_addr);
  return std::to_string(host >> 24) + "," + std::to_string((host >> 16) & 0xff) + "," +
         std::to_string((host >> 8) & 0xff) + "," + std::to_string(host & 0xff) + "," +
         std::to_string(address.Port / 256) + "," + std::to_string(address.Port % 256);
}

}  // namespace

std::optional<std::string> TakeLine(std::string& text) {
  const std::size_t end = text.find("\r\n");
  if (end == std::string::npos) return std::nullopt;
  std::string line = text.substr(0, end + 2);
  text.erase(0, end + 2);
  return line;
}

std::string CommandWord(std::string_view line) {
  std::string word(line.substr(0, 4));
  for (char& c : word) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return word;
}

std::string CommandArgument(std::string_view line) {
  if (line.ends_with("\r\n")) line.remove_suffix(2);
  return line.size() > 5 ? std::string(line.substr(5)) : std::string();
}

std::optional<int> ReplyCode(std::string_view line) {
  if (line.size() < 3 || !IsDigit(line[0]) || !IsDigit(line[1]) || !IsDigit(line[2])) {
    return std::nullopt;
  }
  if (line.size() > 3 && line[3] != ' ' && line[3] != '-' && line[3] != '\r') return std::nullopt;
  return (line[0] - '0') * 100 + (line[1] - '0') * 10 + (line[2] - '0');
}

bool OpensMultilineReply(std::string_view line) {
  return ReplyCode(line) && line.size() > 3 && line[3] == '-';
}

bool EndsMultilineReply(std::string_view line, int code) {
  return ReplyCode(line) == code && (line.size() == 3 || line[3] != '-');
}

std::optional<FtpReply> TakeFtpReply(std::string& received) {
  std::size_t end = received.find("\r\n");
  if (end == std::string::npos) return std::nullopt;
  end += 2;
  const std::string_view text(received);
  FtpReply reply;
  reply.Code = ReplyCode(text.substr(0, end)).value_or(0);
  if (OpensMultilineReply(text)) {
    for (;;) {
      const std::size_t lineEnd = received.find("\r\n", end);
      if (lineEnd == std::string::npos) return std::nullopt;
      const bool last = EndsMultilineReply(text.substr(end, lineEnd - end), reply.Code);
      end = lineEnd + 2;
      if (last) break;
    }
  }
  reply.Text = received.substr(0, end);
  received.erase(0, end);
  return reply;
}

std::optional<OpenTarget> ParseOpenArgument(std::string_view argument) {
  argument = Trim(argument);
  if (argument.empty()) return std::nullopt;
  OpenTarget target;
  const std::size_t blank = argument.find_first_of(kBlanks);
  target.Host = std::string(argument.substr(0, blank));
  if (blank != std::string_view::npos) {
    const std::optional<unsigned> port = ParseNumber(argument.substr(blank), 65535);
    if (!port || *port == 0) return std::nullopt;
    target.Port = static_cast<std::uint16_t>(*port);
  }
  return target;
}

std::optional<DataAddress> ParseHostPort(std::string_view numbers) {
  std::array<unsigned, 6> values{};
  for (std::size_t i = 0; i < values.size(); ++i) {
    const std::size_t comma = numbers.find(',');
    if ((i < 5) == (comma == std::string_view::npos)) return std::nullopt;
    const std::optional<unsigned> value = ParseNumber(numbers.substr(0, comma), 255);
    if (!value) return std::nullopt;
    values[i] = *value;
    numbers = comma == std::string_view::npos ? std::string_view() : numbers.substr(comma + 1);
  }
  DataAddress result;
  result.Address.s_addr =
      htonl((values[0] << 24) | (values[1] << 16) | (values[2] << 8) | values[3]);
  result.Port = static_cast<std::uint16_t>(values[4] * 256 + values[5]);
  if (result.Port == 0) return std::nullopt;
  return result;
}

std::string PortCommand(const DataAddress& address) {
  return "PORT " + HostPortText(address) + "\r\n";
}

ExtendedPort ParseExtendedPort(std::string_view argument) {
  ExtendedPort result;
  argument = Trim(argument);
  if (argument.size() < 2 || argument[0] < 33 || argument[0] > 126) return result;
  const char delimiter = argument[0];
  std::array<std::string_view, 3> fields;
  std::string_view rest = argument.substr(1);
  for (std::string_view& field : fields) {
    const std::size_t end = rest.find(delimiter);
    if (end == std::string_view::npos) return result;
    field = rest.substr(0, end);
    rest.remove_prefix(end + 1);
  }
  if (!rest.empty()) return result;
  const std::optional<unsigned> family = ParseNumber(fields[0], 65535);
  const std::optional<unsigned> port = ParseNumber(fields[2], 65535);
  if (!family || fields[1].empty()) return result;
  if (*family != 1) {
    result.Kind = ExtendedPortKind::OtherFamily;
    return result;
  }
  const std::string host(fields[1]);
  if (!port || *port == 0 || ::inet_pton(AF_INET, host.c_str(), &result.Address.Address) != 1) {
    return result;
  }
  result.Address.Port = static_cast<std::uint16_t>(*port);
  result.Kind = ExtendedPortKind::IPv4;
  return result;
}

std::optional<DataAddress> ParsePassiveReply(std::string_view line) {
  if (line.size() < 4) return std::nullopt;
  // RFC 1123 asks clients to scan for the numbers: their framing differs between servers.
  std::string_view text = line.substr(4);
  const std::size_t first = text.find_first_of("0123456789");
  if (first == std::string_view::npos) return std::nullopt;
  text.remove_prefix(first);
  return ParseHostPort(text.substr(0, text.find_first_not_of("0123456789,")));
}

std::string PassiveReply(const DataAddress& address) {
  return "227 Entering Passive Mode (" + HostPortText(address) + ").\r\n";
}

std::string ExtendedPassiveReply(std::uint16_t port) {
  return "229 Entering Extended Passive Mode (|||" + std::to_string(port) + "|)\r\n";
}

std::optional<ProxyLogin> ParseProxyLogin(std::string_view argument) {
  argument = Trim(argument);
  const std::size_t at = argument.rfind('@');
  if (at == std::string_view::npos || at == 0) return std::nullopt;
  ProxyLogin login;
  login.User = std::string(argument.substr(0, at));
  std::string_view server = argument.substr(at + 1);
  const std::size_t colon = server.find(':');
  if (colon != std::string_view::npos) {
    const std::optional<unsigned> port = ParseNumber(server.substr(colon + 1), 65535);
    if (!port || *port == 0) return std::nullopt;
    login.Target.Port = static_cast<std::uint16_t>(*port);
    server = server.substr(0, colon);
  }
  if (server.empty() || server.find_first_of(kBlanks) != std::string_view::npos) {
    return std::nullopt;
  }
  login.Target.Host = std::string(server);
  return login;
}

}  // namespace tenvar::ftpproxy
