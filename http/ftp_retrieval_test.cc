#include "http/ftp_retrieval.h"

#include <gtest/gtest.h>

namespace tenvar::http {
namespace {

TEST(FtpRetrievalText, ReadsTheLoginDirectoryAndWritesPathsAndPasswords) {
  EXPECT_EQ(ParseDirectoryReply("257 \"/home/ann\" is the current directory\r\n"), "/home/ann");
  EXPECT_EQ(ParseDirectoryReply("257 \"/say \"\"hi\"\"\" created\r\n"), "/say \"hi\"");
  EXPECT_EQ(ParseDirectoryReply("257 /no/quotes\r\n"), std::nullopt);
  EXPECT_EQ(ParseDirectoryReply("257 \"/unterminated\r\n"), std::nullopt);
  EXPECT_EQ(FtpPathIn("/home/ann", "f.txt"), "/home/ann/f.txt");
  EXPECT_EQ(FtpPathIn("/home/ann", ""), "/home/ann");
  EXPECT_EQ(FtpPathIn("/", ""), "/");
  // The dash asking for short replies goes with the default password alone.
  EXPECT_EQ(FtpPassCommand("ann", "secret"), "PASS secret\r\n");
  EXPECT_EQ(FtpPassCommand("anonymous", "me@home"), "PASS me@home\r\n");
}

}  // namespace
}  // namespace tenvar::http
