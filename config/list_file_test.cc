#include "config/list_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <thread>

#include "platform/temp_dir.h"

namespace tenvar::config {
namespace {

using Entries = ListFile::Entries;
constexpr platform::FileTime kSecond = 1'000'000'000;

TEST(ListFile, KeepsNonEmptyLinesExactlyAsWritten) {
  platform::TempDir dir;
  const std::string path = dir.Write("excl.txt", "ads\r\n\n ads \n# comment\nads\n");
  ListFile list;
  list.Refresh(path);
  EXPECT_EQ(*list.Load(), (Entries{"ads", " ads ", "# comment", "ads"}));
  EXPECT_TRUE(list.AnyOccursIn("http://x/ ads /"));
  EXPECT_FALSE(list.AnyOccursIn("http://x/ADS"));
}

TEST(ListFile, RereadsOnlyWhenTheLastWriteTimeChanges) {
  platform::TempDir dir;
  const std::string path = dir.Write("list.txt", "one\n");
  platform::SetLastWriteTime(path, 100 * kSecond);
  ListFile list;
  list.Refresh(path);
  EXPECT_EQ(list.Time(), 100 * kSecond);

  // Same time stamp: the new content goes unnoticed.
  dir.Write("list.txt", "two\n");
  platform::SetLastWriteTime(path, 100 * kSecond);
  list.Refresh(path);
  EXPECT_EQ(*list.Load(), Entries{"one"});

  platform::SetLastWriteTime(path, 200 * kSecond);
  list.Refresh(path);
  EXPECT_EQ(*list.Load(), Entries{"two"});
}

TEST(ListFile, AVanishedFileEmptiesTheListAndARestoredOldFileStaysUnread) {
  platform::TempDir dir;
  const std::string path = dir.Write("trusted.txt", "example.com\n");
  platform::SetLastWriteTime(path, 100 * kSecond);
  ListFile list;
  list.Refresh(path);
  ASSERT_EQ(list.Load()->size(), 1u);

  std::filesystem::remove(path);
  list.Refresh(path);
  EXPECT_TRUE(list.Load()->empty());

  dir.Write("trusted.txt", "example.com\n");
  platform::SetLastWriteTime(path, 100 * kSecond);
  list.Refresh(path);
  EXPECT_TRUE(list.Load()->empty());

  list.Refresh("");  // no file named at all
  EXPECT_TRUE(list.Load()->empty());
}

TEST(ListFile, RunTimeAppendsLastUntilTheFileChangesAndAreNotDuplicated) {
  platform::TempDir dir;
  const std::string path = dir.Write("trusted.txt", "a.example\n");
  platform::SetLastWriteTime(path, 100 * kSecond);
  ListFile list;
  list.Refresh(path);
  EXPECT_TRUE(list.AppendIfMissing("http://b.example/"));
  EXPECT_FALSE(list.AppendIfMissing("http://b.example/"));
  EXPECT_FALSE(list.AppendIfMissing("a.example"));
  list.Refresh(path);
  EXPECT_EQ(*list.Load(), (Entries{"a.example", "http://b.example/"}));

  platform::SetLastWriteTime(path, 300 * kSecond);
  list.Refresh(path);
  EXPECT_EQ(*list.Load(), Entries{"a.example"});
}

TEST(ListFile, ReadersNeverSeeAHalfRefreshedList) {
  platform::TempDir dir;
  // Every version of the file holds 50 identical lines; a reader that sees a mixture or a
  // partial list has caught a refresh in the middle.
  auto version = [](int n) {
    std::string text;
    for (int i = 0; i < 50; ++i) text += "v" + std::to_string(n) + "\n";
    return text;
  };
  const std::string path = dir.Write("list.txt", version(0));
  ListFile list;
  list.Refresh(path);

  std::atomic<bool> done{false};
  std::atomic<int> torn{0};
  std::vector<std::thread> readers;
  for (int r = 0; r < 3; ++r) {
    readers.emplace_back([&] {
      while (!done) {
        const std::shared_ptr<const Entries> entries = list.Load();
        if (entries->size() != 50 || entries->front() != entries->back()) ++torn;
        list.AnyOccursIn("v7");
      }
    });
  }
  for (int n = 1; n <= 200; ++n) {
    dir.Write("list.txt", version(n));
    platform::SetLastWriteTime(path, n * kSecond);
    list.Refresh(path);
  }
  done = true;
  for (std::thread& reader : readers) reader.join();
  EXPECT_EQ(torn, 0);
  EXPECT_EQ(list.Load()->front(), "v200");
}

}  // namespace
}  // namespace tenvar::config
