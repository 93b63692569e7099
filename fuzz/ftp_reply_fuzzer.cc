// FTP control text as servers send it: replies taken one by one off a received stream
// (single and multi-line), the passive-mode and PWD replies, and the proxy's own line,
// reply-code, PORT, EPRT, passive-reply, OPEN and USER name@host parsers.
#include <cstddef>
#include <cstdint>
#include <string>

#include "ftpproxy/control_text.h"
#include "fuzz/fuzz_input.h"
#include "http/ftp_retrieval.h"

namespace {

using tenvar::fuzz::Require;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);

  std::string received = text;
  std::string taken;
  while (std::optional<tenvar::ftpproxy::FtpReply> reply = tenvar::ftpproxy::TakeFtpReply(received)) {
    Require(!reply->Text.empty(), "a reply has at least one line");
    Require(reply->Code >= 0 && reply->Code <= 999, "a reply code has three digits");
    taken += reply->Text;
    tenvar::ftpproxy::ParsePassiveReply(reply->Text);
    tenvar::http::ParseDirectoryReply(reply->Text);
  }
  Require(taken + received == text, "replies are taken off the front, byte for byte");

  tenvar::http::ParseDirectoryReply(text);

  std::string lines = text;
  while (std::optional<std::string> line = tenvar::ftpproxy::TakeLine(lines)) {
    Require(line->size() >= 2 && line->ends_with("\r\n"), "a taken line ends with CR LF");
    const std::optional<int> code = tenvar::ftpproxy::ReplyCode(*line);
    if (tenvar::ftpproxy::OpensMultilineReply(*line) && code) {
      tenvar::ftpproxy::EndsMultilineReply(*line, *code);
    }
    tenvar::ftpproxy::CommandWord(*line);
    tenvar::ftpproxy::ParseOpenArgument(tenvar::ftpproxy::CommandArgument(*line));
    const std::string argument = tenvar::ftpproxy::CommandArgument(*line);
    if (const auto address = tenvar::ftpproxy::ParseHostPort(argument)) {
      Require(address->Port != 0, "a PORT address has a port");
      const std::string command = tenvar::ftpproxy::PortCommand(*address);
      const auto again = tenvar::ftpproxy::ParseHostPort(
          tenvar::ftpproxy::CommandArgument(command.substr(0, command.size() - 2)));
      Require(again && again->Port == address->Port &&
                  again->Address.s_addr == address->Address.s_addr,
              "a PORT command reads back to its address");
    }
    const tenvar::ftpproxy::ExtendedPort extended = tenvar::ftpproxy::ParseExtendedPort(argument);
    if (extended.Kind == tenvar::ftpproxy::ExtendedPortKind::IPv4) {
      Require(extended.Address.Port != 0, "an EPRT address has a port");
    }
    if (const auto login = tenvar::ftpproxy::ParseProxyLogin(argument)) {
      Require(!login->User.empty() && !login->Target.Host.empty() && login->Target.Port != 0,
              "a USER name@host login names a user and a server");
    }
    if (const auto passive = tenvar::ftpproxy::ParsePassiveReply(*line)) {
      const auto again =
          tenvar::ftpproxy::ParsePassiveReply(tenvar::ftpproxy::PassiveReply(*passive));
      Require(
          again && again->Port == passive->Port && again->Address.s_addr == passive->Address.s_addr,
          "a passive reply reads back to its address");
    }
  }
  return 0;
}
