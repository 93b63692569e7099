#include "ftpproxy/control_text.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

namespace tenvar::ftpproxy {
namespace {

std::string AddressText(in_addr address) {
  char text[INET_ADDRSTRLEN];
  return ::inet_ntop(AF_INET, &address, text, sizeof text);
}

TEST(TakeFtpReply, TakesOneLineRepliesInTurn) {
  std::string received = "220 Ready\r\n331 Password\r\n230";
  std::optional<FtpReply> first = TakeFtpReply(received);
  ASSERT_TRUE(first);
  EXPECT_EQ(first->Code, 220);
  EXPECT_EQ(first->Text, "220 Ready\r\n");
  std::optional<FtpReply> second = TakeFtpReply(received);
  ASSERT_TRUE(second);
  EXPECT_EQ(second->Code, 331);
  EXPECT_EQ(TakeFtpReply(received), std::nullopt);
  EXPECT_EQ(received, "230");
}

TEST(TakeFtpReply, TakesAMultiLineReplyWholeOnceItsLastLineHasCome) {
  std::string received = "220-Welcome\r\n 220 is not the end\r\n220-nor is this\r\n";
  EXPECT_EQ(TakeFtpReply(received), std::nullopt);
  received += "220 Ready\r\n230 next\r\n";
  std::optional<FtpReply> reply = TakeFtpReply(received);
  ASSERT_TRUE(reply);
  EXPECT_EQ(reply->Code, 220);
  EXPECT_EQ(reply->Text,
            "220-Welcome\r\n 220 is not the end\r\n220-nor is this\r\n220 Ready\r\n");
  EXPECT_EQ(received, "230 next\r\n");
}

TEST(TakeFtpReply, ALineWithoutACodeIsAReplyOfCodeZero) {
  std::string received = "hello\r\n";
  std::optional<FtpReply> reply = TakeFtpReply(received);
  ASSERT_TRUE(reply);
  EXPECT_EQ(reply->Code, 0);
  EXPECT_EQ(received, "");
}

TEST(TakeLine, TakesCompleteLinesOneAtATimeAndLeavesAPartialOne) {
  std::string text = "USER a\r\nPASS b\r\nCW";
  EXPECT_EQ(TakeLine(text), "USER a\r\n");
  EXPECT_EQ(TakeLine(text), "PASS b\r\n");
  EXPECT_EQ(TakeLine(text), std::nullopt);
  EXPECT_EQ(text, "CW");
}

TEST(TakeLine, ALineFeedAloneEndsNoLine) {
  std::string text = "LIST\n";
  EXPECT_EQ(TakeLine(text), std::nullopt);
}

TEST(CommandWord, IsTheFirstFourCharactersInUpperCase) {
  EXPECT_EQ(CommandWord("open host\r\n"), "OPEN");
  EXPECT_EQ(CommandWord("Retr file\r\n"), "RETR");
  EXPECT_EQ(CommandWord("CD\r\n"), "CD\r\n");
}

TEST(CommandArgument, IsTheLineAfterItsFirstFiveCharactersWithoutTheLineEnd) {
  EXPECT_EQ(CommandArgument("RETR pub/a b.txt\r\n"), "pub/a b.txt");
  EXPECT_EQ(CommandArgument("STOR x\r\n"), "x");
  EXPECT_EQ(CommandArgument("LIST\r\n"), "");
}

TEST(ReplyCode, ReadsThreeDigitsFollowedByABlankAHyphenOrTheLineEnd) {
  EXPECT_EQ(ReplyCode("220 ready\r\n"), 220);
  EXPECT_EQ(ReplyCode("226-first\r\n"), 226);
  EXPECT_EQ(ReplyCode("200\r\n"), 200);
  EXPECT_EQ(ReplyCode(" 226 indented\r\n"), std::nullopt);
  EXPECT_EQ(ReplyCode("2260 too long\r\n"), std::nullopt);
  EXPECT_EQ(ReplyCode("ab1 x\r\n"), std::nullopt);
}

TEST(MultilineReply, OpensWithAHyphenAndEndsWithTheSameCodeAndABlank) {
  EXPECT_TRUE(OpensMultilineReply("220-Welcome\r\n"));
  EXPECT_FALSE(OpensMultilineReply("220 Welcome\r\n"));
  EXPECT_FALSE(OpensMultilineReply("text-like line\r\n"));
  EXPECT_TRUE(EndsMultilineReply("220 done\r\n", 220));
  EXPECT_FALSE(EndsMultilineReply("220-more\r\n", 220));
  EXPECT_FALSE(EndsMultilineReply("230 other\r\n", 220));
  EXPECT_FALSE(EndsMultilineReply(" 220 indented\r\n", 220));
}

TEST(ParseOpenArgument, TakesAHostAndAnOptionalPort) {
  const std::optional<OpenTarget> plain = ParseOpenArgument(" ftp.example.com ");
  ASSERT_TRUE(plain);
  EXPECT_EQ(plain->Host, "ftp.example.com");
  EXPECT_EQ(plain->Port, 21);

  const std::optional<OpenTarget> withPort = ParseOpenArgument("127.0.0.1 2121");
  ASSERT_TRUE(withPort);
  EXPECT_EQ(withPort->Host, "127.0.0.1");
  EXPECT_EQ(withPort->Port, 2121);

  EXPECT_EQ(ParseOpenArgument(""), std::nullopt);
  EXPECT_EQ(ParseOpenArgument("   "), std::nullopt);
  EXPECT_EQ(ParseOpenArgument("host 0"), std::nullopt);
  EXPECT_EQ(ParseOpenArgument("host 65536"), std::nullopt);
  EXPECT_EQ(ParseOpenArgument("host port"), std::nullopt);
}

TEST(ParseHostPort, ReadsSixNumbersAsAddressAndPort) {
  const std::optional<DataAddress> address = ParseHostPort("192,168,1,20,4,1");
  ASSERT_TRUE(address);
  EXPECT_EQ(AddressText(address->Address), "192.168.1.20");
  EXPECT_EQ(address->Port, 4 * 256 + 1);
}

TEST(ParseHostPort, RefusesWhatIsNotSixBytes) {
  for (const char* text : {"", "1,2,3,4,5", "1,2,3,4,5,6,7", "1,2,3,256,5,6", "1,2,3,4,x,6",
                           "1,2,3,4,0,0", "1,2,,4,5,6", "-1,2,3,4,5,6"}) {
    EXPECT_EQ(ParseHostPort(text), std::nullopt) << text;
  }
}

TEST(PortCommand, NamesTheAddressBytesInNetworkOrderAndThePortInTwoHalves) {
  DataAddress address;
  ASSERT_EQ(::inet_pton(AF_INET, "10.0.0.7", &address.Address), 1);
  address.Port = 50001;
  EXPECT_EQ(PortCommand(address), "PORT 10,0,0,7,195,81\r\n");
  const std::optional<DataAddress> back = ParseHostPort("10,0,0,7,195,81");
  ASSERT_TRUE(back);
  EXPECT_EQ(back->Port, 50001);
}

TEST(ParseExtendedPort, ReadsIPv4WithAnyDelimiterAndTellsOtherFamiliesFromNonsense) {
  const ExtendedPort ipv4 = ParseExtendedPort("|1|132.235.1.2|6275|");
  ASSERT_EQ(ipv4.Kind, ExtendedPortKind::IPv4);
  EXPECT_EQ(AddressText(ipv4.Address.Address), "132.235.1.2");
  EXPECT_EQ(ipv4.Address.Port, 6275);
  EXPECT_EQ(ParseExtendedPort(" !1!10.0.0.1!80! ").Kind, ExtendedPortKind::IPv4);

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

TEST(PassiveReplies, NameTheAddressAndPortAsRfc959AndRfc2428Write) {
  DataAddress address;
  ASSERT_EQ(::inet_pton(AF_INET, "192.168.1.2", &address.Address), 1);
  address.Port = 50001;
  EXPECT_EQ(PassiveReply(address), "227 Entering Passive Mode (192,168,1,2,195,81).\r\n");
  EXPECT_EQ(ExtendedPassiveReply(50001), "229 Entering Extended Passive Mode (|||50001|)\r\n");
}

TEST(ParseProxyLogin, SplitsTheUserFromTheServerAtTheLastAt) {
  struct Case {
    const char* Argument;
    const char* User;
    const char* Host;
    std::uint16_t Port;
  };
  for (const Case& expected :
       {Case{"anonymous@ftp.example.com", "anonymous", "ftp.example.com", 21},
        Case{"me@home@10.0.0.1:2121", "me@home", "10.0.0.1", 2121}}) {
    const std::optional<ProxyLogin> login = ParseProxyLogin(expected.Argument);
    ASSERT_TRUE(login) << expected.Argument;
    EXPECT_EQ(login->User, expected.User);
    EXPECT_EQ(login->Target.Host, expected.Host);
    EXPECT_EQ(login->Target.Port, expected.Port);
  }
  for (const char* refused : {"anonymous", "@host", "ann@", "ann@host:", "ann@host:0",
                              "ann@host:99999", "ann@host:x", "ann@:21"}) {
    EXPECT_EQ(ParseProxyLogin(refused), std::nullopt) << refused;
  }
}

}  // namespace
}  // namespace tenvar::ftpproxy
