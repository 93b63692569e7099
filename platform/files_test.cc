// Files as the program reads, appends, deletes and keeps its settings in them.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/append_file.h"
#include "platform/delete_tree.h"
#include "platform/read_file.h"
#include "platform/registry_store.h"
#include "platform/temp_dir.h"
#include "platform/unique_fd.h"

namespace tenvar::platform {
namespace {

namespace fs = std::filesystem;

// Cache items are read without following links, so a link planted there reaches nothing.
TEST(ReadRegularFile, AMissingFileOrARefusedLinkFailsToOpenWithItsErrno) {
  TempDir dir;
  EXPECT_EQ(ReadRegularFile(dir.File("missing"), 100, true).Error, ENOENT);
  fs::create_symlink(dir.Write("target", "x"), dir.File("link"));
  EXPECT_EQ(ReadRegularFile(dir.File("link"), 100, true).Result, FileContents::Outcome::Read);
  const FileContents refused = ReadRegularFile(dir.File("link"), 100, false);
  EXPECT_EQ(refused.Result, FileContents::Outcome::OpenFailed);
  EXPECT_EQ(refused.Error, ELOOP);
}

// A line is dropped rather than waiting for another holder of the lock, and the lock is never
// kept between lines. Each line opens the file afresh, so a rotated log starts a new one.
TEST(LockedLine, IsRefusedWhileAnotherHolderLocksTheFileAndWrittenOnceItLetsGo) {
  TempDir dir;
  const std::string path = dir.File("Tenvar.log");
  EXPECT_TRUE(AppendLockedLine(path, "first\n"));
  UniqueFd holder(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  ASSERT_EQ(::flock(holder.Get(), LOCK_EX | LOCK_NB), 0);
  EXPECT_FALSE(AppendLockedLine(path, "lost\n"));
  holder.Reset();
  EXPECT_TRUE(AppendLockedLine(path, "second\n"));
  EXPECT_EQ(ReadFileText(path), "first\nsecond\n");

  fs::rename(path, dir.File("Tenvar.log.1"));
  ASSERT_TRUE(AppendLockedLine(path, "new\n"));
  EXPECT_EQ(ReadFileText(path), "new\n");
  EXPECT_EQ(ReadFileText(dir.File("Tenvar.log.1")), "first\nsecond\n");
  EXPECT_FALSE(AppendLockedLine("", "nowhere\n"));
  EXPECT_FALSE(AppendLockedLine(dir.File("no/such/Tenvar.log"), "lost\n"));
}

// Links inside the folder go as links; what they point to is left alone. A missing or empty
// path removes nothing.
TEST(DeleteTree, RemovesEverythingButNeverFollowsLinksOutAndEmptiesAFolderThatIsALink) {
  TempDir dir;
  const std::string cache = dir.File("cache");
  dir.Write("cache/www.example.com/index.html", "<html>");
  dir.Write("cache/read-only", "x");
  ::chmod(dir.File("cache/read-only").c_str(), 0444);
  dir.Write("cache/locked/inner/item", "y");
  ::chmod(dir.File("cache/locked/inner").c_str(), 0500);  // no write permission
  ::chmod(dir.File("cache/locked").c_str(), 0000);        // no permission at all
  fs::create_directory(dir.File("cache/empty"));
  const std::string outsideFile = dir.Write("outside/keep.txt", "keep");
  dir.Write("outside/sub/keep-too.txt", "keep");
  fs::create_directory_symlink(dir.File("outside"), dir.File("cache/folder-link"));
  fs::create_symlink(outsideFile, dir.File("cache/file-link"));
  fs::create_directories(dir.File("cache/deep/er"));
  fs::create_directory_symlink(dir.File("outside/sub"), dir.File("cache/deep/er/link"));
  ::chmod(dir.File("outside").c_str(), 0555);

  DeleteTree(cache);
  EXPECT_FALSE(fs::exists(fs::symlink_status(cache)));
  DeleteTree(dir.File("missing"));
  DeleteTree("");
  EXPECT_EQ(ReadFileText(outsideFile), "keep");
  EXPECT_TRUE(fs::exists(dir.File("outside/sub/keep-too.txt")));
  struct stat status {};
  ASSERT_EQ(::stat(dir.File("outside").c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 07777, 0555u);  // its permissions untouched
  ::chmod(dir.File("outside").c_str(), 0755);

  // A folder that is itself a link loses its contents and keeps the link.
  fs::create_directory_symlink(dir.File("outside"), cache);
  DeleteTree(cache);
  EXPECT_TRUE(fs::is_symlink(cache));
  EXPECT_FALSE(fs::exists(outsideFile));
}

// Creating the key is the start-up test's.
TEST(RegistryStore, ReplacesOnlyItsOwnValueAndReportsAFailureWithoutThrowing) {
  TempDir home;
  ::setenv("XDG_CONFIG_HOME", home.Path().c_str(), 1);
  const std::string file = home.Write("Lindqvale/Configure", "Tenvar=/a/Tenvar.ini\nOther=kept\n");
  ASSERT_TRUE(WriteRegistryValue("Lindqvale/Configure", "Tenvar", "/b/Tenvar.ini"));
  EXPECT_EQ(ReadFileText(file), "Other=kept\nTenvar=/b/Tenvar.ini\n");

  // A file where the directory should be.
  ::setenv("XDG_CONFIG_HOME", file.c_str(), 1);
  EXPECT_FALSE(WriteRegistryValue("Lindqvale/Configure", "Tenvar", "/x"));
  ::unsetenv("XDG_CONFIG_HOME");
}

}  // namespace
}  // namespace tenvar::platform
