// The text of FTP control connections as both FTP paths read and write it: lines, command
// words, replies and their codes, the data-address commands (PORT, EPRT) and passive
// replies, and the "USER name@host" login that names a server. Pure functions; safe from
// any thread.
#pragma once

#include <netinet/in.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tenvar::ftpproxy {

// Takes the first line, "\r\n" included, off the front of `text`; nothing while no line
// is complete.
std::optional<std::string> TakeLine(std::string& text);

// The first four characters of a command line in upper case ("OPEN", "PORT", "RETR"...).
std::string CommandWord(std::string_view line);

// What a command line names after its command word: the text from its fifth character to
// the line end, without the "\r\n".
std::string CommandArgument(std::string_view line);

// The three-digit code a reply line starts with; nothing for a line that has none.
std::optional<int> ReplyCode(std::string_view line);

// True for the first line of a multi-line reply ("220-Welcome").
bool OpensMultilineReply(std::string_view line);

// True for the line that ends the multi-line reply of `code` ("220 ready").
bool EndsMultilineReply(std::string_view line, int code);

struct FtpReply {
  int Code = 0;      // 0 when the reply's first line carries no three-digit code
  std::string Text;  // every line of the reply, line ends included
};

// Takes the first complete reply off the front of `received`: a single line, or the lines
// from "123-..." through the line that ends it. Nothing while it is incomplete.
std::optional<FtpReply> TakeFtpReply(std::string& received);

struct OpenTarget {
  std::string Host;
  std::uint16_t Port = 21;
};

// The argument of "OPEN host [port]", blanks around it ignored. Nothing without a host or
// with a port that is not a number from 1 to 65535.
std::optional<OpenTarget> ParseOpenArgument(std::string_view argument);

struct DataAddress {
  in_addr Address{};
  std::uint16_t Port = 0;
};

// The address of "h1,h2,h3,h4,p1,p2" (the argument of PORT, or the numbers of a passive
// reply); nothing unless all six are numbers from 0 to 255 and the port is not 0.
std::optional<DataAddress> ParseHostPort(std::string_view numbers);

// "PORT h1,h2,h3,h4,p1,p2\r\n" naming `address`.
std::string PortCommand(const DataAddress& address);

enum class ExtendedPortKind { IPv4, OtherFamily, Malformed };

struct ExtendedPort {
  ExtendedPortKind Kind = ExtendedPortKind::Malformed;
  DataAddress Address;  // for IPv4 only
};

// The argument of EPRT, "<d>1<d>a.b.c.d<d>port<d>" with any printable delimiter <d>. A
// well-formed one for a protocol other than 1 (IPv4) is OtherFamily.
ExtendedPort ParseExtendedPort(std::string_view argument);

// The data address of a "227" reply: the first six comma-separated numbers after its code,
// with or without the parentheses that most servers put around them.
std::optional<DataAddress> ParsePassiveReply(std::string_view line);

// "227 Entering Passive Mode (h1,h2,h3,h4,p1,p2).\r\n" naming `address`.
std::string PassiveReply(const DataAddress& address);

// "229 Entering Extended Passive Mode (|||port|)\r\n".
std::string ExtendedPassiveReply(std::uint16_t port);

struct ProxyLogin {
  std::string User;
  OpenTarget Target;
};

// The argument of "USER name@host[:port]": the server is named after the last "@", so a
// user name may hold one itself. Nothing without a name, a host or with a bad port.
std::optional<ProxyLogin> ParseProxyLogin(std::string_view argument);

}  // namespace tenvar::ftpproxy
