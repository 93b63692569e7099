#include "ftpproxy/control_text.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

namespace tenvar::ftpproxy {
namespace {

std::string AddressText(in_addr address) {
  char text[INET_ADDRSTRLEN];
  return ::inet_ntop(AF_INET, &address, text, sizeof text);
}

// A reply is taken whole once its last line has come; the rest stays for the next.
TEST(TakeFtpReply, TakesOneReplyAtATimeOnceItsLastLineHasCome) {
  std::string received = "220 Ready\r\n331 Password\r\n230";
  std::optional<FtpReply> first = TakeFtpReply(received);
  ASSERT_TRUE(first);
  EXPECT_EQ(first->Code, 220);
  EXPECT_EQ(first->Text, "220 Ready\r\n");
  EXPECT_EQ(TakeFtpReply(received)->Code, 331);
  EXPECT_EQ(TakeFtpReply(received), std::nullopt);
  EXPECT_EQ(received, "230");

  // Only a line of the same code with a space ends it.
  const std::string lines =
      "220-Welcome\r\n 220 is not the end\r\n230 nor this\r\n220-nor this\r\n";
  received = lines;
  EXPECT_EQ(TakeFtpReply(received), std::nullopt);
  received += "220 Ready\r\n230 next\r\n";
  std::optional<FtpReply> whole = TakeFtpReply(received);
  ASSERT_TRUE(whole);
  EXPECT_EQ(whole->Code, 220);
  EXPECT_EQ(whole->Text, lines + "220 Ready\r\n");
  EXPECT_EQ(received, "230 next\r\n");

  received = "not-a-reply\r\n";  // no code: a reply of code zero, and one line
  EXPECT_EQ(TakeFtpReply(received).value_or(FtpReply{-1, ""}).Code, 0);
  EXPECT_EQ(received, "");
}

TEST(TakeLine, TakesCrLfLinesOneAtATimeAndLeavesAPartialOne) {
  std::string text = "USER a\r\nPASS b\r\nCW";
  EXPECT_EQ(TakeLine(text), "USER a\r\n");
  EXPECT_EQ(TakeLine(text), "PASS b\r\n");
  EXPECT_EQ(TakeLine(text), std::nullopt);
  EXPECT_EQ(text, "CW");
  std::string lineFeedOnly = "LIST\n";
  EXPECT_EQ(TakeLine(lineFeedOnly), std::nullopt);
}

TEST(ControlText, SplitsCommandsAndReadsReplyCodes) {
  EXPECT_EQ(CommandWord("open host\r\n"), "OPEN");
  EXPECT_EQ(CommandWord("Retr file\r\n"), "RETR");
  EXPECT_EQ(CommandWord("CD\r\n"), "CD\r\n");
  EXPECT_EQ(CommandArgument("RETR pub/a b.txt\r\n"), "pub/a b.txt");
  EXPECT_EQ(CommandArgument("LIST\r\n"), "");
  const std::pair<const char*, std::optional<int>> codes[] = {
      {"220 ready\r\n", 220},    {"226-first\r\n", 226},    {"200\r\n", 200},
      {" 226 indented\r\n", {}}, {"2260 too long\r\n", {}}, {"ab1 x\r\n", {}},
  };
  for (const auto& [line, code] : codes) EXPECT_EQ(ReplyCode(line), code) << line;
}

TEST(ParseOpenArgument, TakesAHostAndAnOptionalPort) {
  const std::optional<OpenTarget> plain = ParseOpenArgument(" ftp.example.com ");
  ASSERT_TRUE(plain);
  EXPECT_EQ(plain->Host, "ftp.example.com");
  EXPECT_EQ(plain->Port, 21);
  for (const char* refused : {"", "   ", "host 0", "host 65536", "host port"}) {
    EXPECT_EQ(ParseOpenArgument(refused), std::nullopt) << refused;
  }
}

// Well-formed ones are sent by the proxy's clients in the service tests.
TEST(ParseHostPort, RefusesAnythingButSixBytesAndAPort) {
  for (const char* text : {"", "1,2,3,4,5", "1,2,3,4,5,6,7", "1,2,3,256,5,6", "1,2,3,4,x,6",
                           "1,2,3,4,0,0", "1,2,,4,5,6", "-1,2,3,4,5,6"}) {
    EXPECT_EQ(ParseHostPort(text), std::nullopt) << text;
  }
}

// "|1|address|port|" is sent by the whole-program tests' clients.
TEST(ParseExtendedPort, ReadsIPv4WithAnyDelimiterAndTellsOtherFamiliesFromNonsense) {
  const ExtendedPort ipv4 = ParseExtendedPort(" !1!10.0.0.1!80! ");
  ASSERT_EQ(ipv4.Kind, ExtendedPortKind::IPv4);
  EXPECT_EQ(AddressText(ipv4.Address.Address), "10.0.0.1");
  EXPECT_EQ(ipv4.Address.Port, 80);

  for (const char* other : {"|2|1080::8:800:200C:417A|5282|", "|3|x|1|"}) {
    EXPECT_EQ(ParseExtendedPort(other).Kind, ExtendedPortKind::OtherFamily) << other;
  }
  for (const char* malformed :
       {"", "|", "|1|10.0.0.1|80", "|1|10.0.0.1|80|x", "|1|10.0.0|80|", "|1|10.0.0.1|0|",
        "|1|10.0.0.1|65536|", "|x|10.0.0.1|80|", "|1||80|", " 1 10.0.0.1 80 "}) {
    EXPECT_EQ(ParseExtendedPort(malformed).Kind, ExtendedPortKind::Malformed) << malformed;
  }
}

TEST(ParsePassiveReply, FindsTheSixNumbersWithOrWithoutParentheses) {
  for (const char* reply :
       {"227 Entering Passive Mode (10,1,2,3,4,5).\r\n",
        "227 Entering Passive Mode 10,1,2,3,4,5\r\n", "227 =10,1,2,3,4,5\r\n"}) {
    const std::optional<DataAddress> address = ParsePassiveReply(reply);
    ASSERT_TRUE(address) << reply;
    EXPECT_EQ(AddressText(address->Address), "10.1.2.3") << reply;
    EXPECT_EQ(address->Port, 4 * 256 + 5) << reply;
  }
  for (const char* reply : {"227 Entering Passive Mode\r\n", "227 (10,1,2,3,4)\r\n", "227"}) {
    EXPECT_EQ(ParsePassiveReply(reply), std::nullopt) << reply;
  }
}

// Logins split at the last "@", with or without a port, are sent in the service tests.
TEST(ParseProxyLogin, RefusesALoginWithoutUserHostOrAUsablePort) {
  for (const char* refused : {"anonymous", "@host", "ann@", "ann@host:", "ann@host:0",
                              "ann@host:99999", "ann@host:x", "ann@:21"}) {
    EXPECT_EQ(ParseProxyLogin(refused), std::nullopt) << refused;
  }
}

}  // namespace
}  // namespace tenvar::ftpproxy
