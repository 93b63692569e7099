#include "platform/append_file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>

#include <filesystem>
#include <string>

#include "platform/temp_dir.h"
#include "platform/unique_fd.h"

namespace tenvar::platform {
namespace {

// A line is dropped rather than waiting for another holder of the lock, and the lock is never
// kept between lines.
TEST(LockedLine, IsRefusedWhileAnotherHolderLocksTheFileAndWrittenOnceItLetsGo) {
  platform::TempDir dir;
  const std::string path = dir.File("Tenvar.log");
  EXPECT_TRUE(AppendLockedLine(path, "first\n"));
  platform::UniqueFd holder(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  ASSERT_EQ(::flock(holder.Get(), LOCK_EX | LOCK_NB), 0);
  EXPECT_FALSE(AppendLockedLine(path, "lost\n"));
  holder.Reset();
  EXPECT_TRUE(AppendLockedLine(path, "second\n"));
  EXPECT_EQ(ReadFileText(path), "first\nsecond\n");
}

TEST(LockedLine, ARotatedLogStartsAFreshFileAndAnUnreachablePathDropsTheLine) {
  platform::TempDir dir;
  const std::string path = dir.File("Tenvar.log");
  ASSERT_TRUE(AppendLockedLine(path, "old\n"));
  std::filesystem::rename(path, dir.File("Tenvar.log.1"));
  ASSERT_TRUE(AppendLockedLine(path, "new\n"));
  EXPECT_EQ(ReadFileText(path), "new\n");
  EXPECT_EQ(ReadFileText(dir.File("Tenvar.log.1")), "old\n");
  EXPECT_FALSE(AppendLockedLine("", "nowhere\n"));
  EXPECT_FALSE(AppendLockedLine(dir.File("no/such/Tenvar.log"), "lost\n"));
}

}  // namespace
}  // namespace tenvar::platform
