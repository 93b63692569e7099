#include "platform/read_file.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "platform/temp_dir.h"

namespace tenvar::platform {
namespace {

using Outcome = FileContents::Outcome;

// Cache items are read without following links, so a link planted there reaches nothing.
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
