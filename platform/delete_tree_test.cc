#include "platform/delete_tree.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "platform/temp_dir.h"

namespace tenvar::platform {
namespace {

namespace fs = std::filesystem;

TEST(DeleteTree, RemovesEverythingAndTheFolderItselfButNothingForAMissingOrEmptyPath) {
  platform::TempDir dir;
  const std::string cache = dir.File("cache");
  dir.Write("cache/www.example.com/index.html", "<html>");
  dir.Write("cache/www.example.com/img/a.png", "png");
  dir.Write("cache/read-only", "x");
  ::chmod(dir.File("cache/read-only").c_str(), 0444);
  fs::create_directories(dir.File("cache/locked/inner"));
  dir.Write("cache/locked/inner/item", "y");
  ::chmod(dir.File("cache/locked/inner").c_str(), 0500);  // no write permission
  ::chmod(dir.File("cache/locked").c_str(), 0000);        // no permission at all
  fs::create_directory(dir.File("cache/empty"));

  const std::string kept = dir.Write("kept", "x");

  DeleteTree(cache);
  EXPECT_FALSE(fs::exists(fs::symlink_status(cache)));
  DeleteTree(dir.File("missing"));
  DeleteTree("");
  EXPECT_TRUE(fs::exists(kept));
}

// Links inside the folder go as links; what they point to is left alone.
TEST(DeleteTree, NeverFollowsLinksOutOfTheFolder) {
  platform::TempDir dir;
  const std::string outsideFile = dir.Write("outside/keep.txt", "keep");
  dir.Write("outside/sub/keep-too.txt", "keep");
  dir.Write("cache/item", "x");
  fs::create_directory_symlink(dir.File("outside"), dir.File("cache/folder-link"));
  fs::create_symlink(outsideFile, dir.File("cache/file-link"));
  fs::create_directories(dir.File("cache/deep/er"));
  fs::create_directory_symlink(dir.File("outside/sub"), dir.File("cache/deep/er/link"));
  ::chmod(dir.File("outside").c_str(), 0555);

  DeleteTree(dir.File("cache"));
  EXPECT_FALSE(fs::exists(fs::symlink_status(dir.File("cache"))));
  EXPECT_EQ(platform::ReadFileText(outsideFile), "keep");
  EXPECT_TRUE(fs::exists(dir.File("outside/sub/keep-too.txt")));
  struct stat status {};
  ASSERT_EQ(::stat(dir.File("outside").c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 07777, 0555u);  // its permissions untouched
  ::chmod(dir.File("outside").c_str(), 0755);
}

TEST(DeleteTree, AFolderThatIsALinkLosesItsContentsAndKeepsTheLink) {
  platform::TempDir dir;
  dir.Write("real/item", "x");
  fs::create_directory_symlink(dir.File("real"), dir.File("cache"));
  DeleteTree(dir.File("cache"));
  EXPECT_TRUE(fs::is_symlink(dir.File("cache")));
  EXPECT_FALSE(fs::exists(dir.File("real/item")));
}

}  // namespace
}  // namespace tenvar::platform
