#include "platform/read_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "platform/temp_dir.h"

namespace tenvar::platform {
namespace {

using Outcome = FileContents::Outcome;

TEST(ReadRegularFile, ReadsAWholeFileUpToItsLimit) {
  TempDir dir;
  const FileContents file = ReadRegularFile(dir.Write("a.ini", "Dial Yes\n"), 9, true);
  EXPECT_EQ(file.Result, Outcome::Read);
  EXPECT_EQ(file.Bytes, "Dial Yes\n");
  EXPECT_NE(file.LastWrite, 0);
}

TEST(ReadRegularFile, RefusesAFileOverItsLimit) {
  TempDir dir;
  const FileContents file = ReadRegularFile(dir.Write("a.ini", "0123456789"), 9, true);
  EXPECT_EQ(file.Result, Outcome::Refused);
  EXPECT_TRUE(file.Bytes.empty());
}

// Opening a FIFO for reading would wait for a writer for ever.
TEST(ReadRegularFile, RefusesAFifoWithoutWaiting) {
  TempDir dir;
  ASSERT_EQ(::mkfifo(dir.File("pipe").c_str(), 0600), 0);
  EXPECT_EQ(ReadRegularFile(dir.File("pipe"), 100, true).Result, Outcome::Refused);
}

TEST(ReadRegularFile, AMissingFileOrARefusedLinkFailsToOpenWithItsErrno) {
  TempDir dir;
  EXPECT_EQ(ReadRegularFile(dir.File("missing"), 100, true).Error, ENOENT);
  std::filesystem::create_symlink(dir.Write("target", "x"), dir.File("link"));
  EXPECT_EQ(ReadRegularFile(dir.File("link"), 100, true).Result, Outcome::Read);
  const FileContents refused = ReadRegularFile(dir.File("link"), 100, false);
  EXPECT_EQ(refused.Result, Outcome::OpenFailed);
  EXPECT_EQ(refused.Error, ELOOP);
}

}  // namespace
}  // namespace tenvar::platform
