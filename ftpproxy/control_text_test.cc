#include "ftpproxy/control_text.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

namespace tenvar::ftpproxy {
namespace {

std::string AddressText(in_addr address) {
  char text[INET_ADDRSTRLEN];
  return ::inet_ntop(AF_INET, &address, text, sizeof text);
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

}  // namespace
}  // namespace tenvar::ftpproxy
