#include "config/list_file.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "config/config_test_support.h"
#include "config/settings_file.h"
#include "platform/temp_dir.h"
#include "platform/text.h"

namespace tenvar::config {
namespace {

using Entries = ListFile::Entries;

// Non-empty lines are kept exactly as written, blanks and repeats included. The next look is
// due one interval after the last one.
TEST(ListFile, RereadsOnlyANewTimeOncePerIntervalAndAVanishedFileStaysEmptyUntilItHasOne) {
  platform::TempDir dir;
  const std::string path =
      WriteAt(dir, "list.txt", "ads\r\n\n ads \n# comment\nads\n", 100 * kSecond);
  const ListFile::Clock::time_point start{std::chrono::hours(1)};
  ListFile list;
  const auto refreshAt = [&](int milliseconds) {
    list.RefreshIfDue(path, start + std::chrono::milliseconds(milliseconds));
    return *list.Load();
  };
  EXPECT_EQ(refreshAt(0), (Entries{"ads", " ads ", "# comment", "ads"}));
  EXPECT_EQ(list.Time(), 100 * kSecond);
  EXPECT_TRUE(list.AnyOccursIn("http://x/ ads /"));
  EXPECT_FALSE(list.AnyOccursIn("http://x/ADS"));

  // Same time stamp: the new content goes unnoticed.
  WriteAt(dir, "list.txt", "two\n", 100 * kSecond);
  list.Refresh(path);
  EXPECT_EQ(list.Load()->size(), 4u);
  platform::SetLastWriteTime(path, 200 * kSecond);
  EXPECT_EQ(refreshAt(999).size(), 4u);
  EXPECT_EQ(refreshAt(1000), Entries{"two"});

  std::filesystem::remove(path);
  list.Refresh(path);
  EXPECT_TRUE(list.Load()->empty());
  WriteAt(dir, "list.txt", "two\n", 200 * kSecond);
  list.Refresh(path);
  EXPECT_TRUE(list.Load()->empty());
  list.Refresh("");  // no file named at all
  EXPECT_TRUE(list.Load()->empty());
}

std::string Learned(int n) { return "http://learned/" + std::to_string(n); }

// Entries learned at run time come last, are not doubled, and stop at the bound, oldest first.
TEST(ListFile, LearnedEntriesStopAtTheBoundOldestFirstAndFileEntriesStay) {
  platform::TempDir dir;
  const std::string path = WriteAt(dir, "trusted.txt", "file-one\nfile-two\n", 100 * kSecond);
  ListFile list;
  list.Refresh(path);
  // A reader holding the list from before keeps seeing it as it was, through compactions.
  const std::shared_ptr<const ListFile::Contents> early = list.LoadContents();
  ASSERT_TRUE(list.AppendIfMissing(Learned(0)));
  const std::shared_ptr<const ListFile::Contents> oneLearned = list.LoadContents();

  constexpr int kExtra = 25;
  const int total = static_cast<int>(ListFile::kMaxLearned) * 2 + kExtra;
  for (int n = 1; n < total; ++n) ASSERT_TRUE(list.AppendIfMissing(Learned(n))) << n;

  const std::shared_ptr<const ListFile::Contents> now = list.LoadContents();
  EXPECT_EQ(*now->FromFile, (Entries{"file-one", "file-two"}));
  ASSERT_EQ(now->Learned().size(), ListFile::kMaxLearned);
  EXPECT_EQ(now->Learned().front(), Learned(total - static_cast<int>(ListFile::kMaxLearned)));
  EXPECT_EQ(now->Learned().back(), Learned(total - 1));
  EXPECT_TRUE(early->Learned().empty());
  ASSERT_EQ(oneLearned->Learned().size(), 1u);
  EXPECT_EQ(oneLearned->Learned().front(), Learned(0));

  // Gone entries may be learned again; kept ones and file entries are not doubled.
  EXPECT_FALSE(list.AnyOccursIn(Learned(0) + " "));
  EXPECT_TRUE(list.AnyOccursIn(Learned(total - 1) + " "));
  EXPECT_FALSE(list.AppendIfMissing(Learned(total - 1)));
  EXPECT_FALSE(list.AppendIfMissing("file-one"));
  EXPECT_TRUE(list.AppendIfMissing(Learned(0)));
  EXPECT_EQ(list.LoadContents()->Learned().back(), Learned(0));
  EXPECT_EQ(list.LoadContents()->Learned().size(), ListFile::kMaxLearned);

  // They last until the file changes.
  list.Refresh(path);
  EXPECT_TRUE(list.AnyOccursIn(Learned(0) + " "));
  platform::SetLastWriteTime(path, 300 * kSecond);
  list.Refresh(path);
  EXPECT_EQ(*list.Load(), (Entries{"file-one", "file-two"}));
  EXPECT_TRUE(list.LoadContents()->Learned().empty());
  EXPECT_FALSE(list.AnyOccursIn(Learned(0) + " "));
}

// Files that must be treated as missing, each reported once, not at every refresh; a file of
// exactly the limit is still read. FIFOs are the end-to-end list-file test's.
TEST(ListFile, RefusesFilesThatAreNotSmallRegularFiles) {
  platform::TempDir dir;
  const std::string huge = dir.Write("huge.txt", "first\n");
  std::filesystem::resize_file(huge, kMaxSettingsFileBytes);
  ListFile limit;
  limit.Refresh(huge);
  ASSERT_EQ(limit.Load()->size(), 2u);
  EXPECT_EQ(limit.Load()->front(), "first");
  std::filesystem::resize_file(huge, kMaxSettingsFileBytes + 1);

  const std::string good = WriteAt(dir, "good.txt", "kept\n", 100 * kSecond);
  for (const std::string& path : {std::string("/dev/zero"), dir.Path(), huge}) {
    SCOPED_TRACE(path);
    RecordingMessages messages;
    ListFile list;
    list.ReportTo(&messages);
    list.Refresh(good);
    ASSERT_EQ(*list.Load(), Entries{"kept"});

    list.Refresh(path);
    EXPECT_TRUE(list.LoadContents()->Empty());
    list.Refresh(path);
    EXPECT_EQ(messages.Lines(),
              std::vector<std::string>{"Cannot read list file: " + RefusedFileMessage(path)});
  }
}

TEST(ListFile, ReadersNeverSeeAHalfAppendedOrHalfRefreshedList) {
  platform::TempDir dir;
  // Every version of the file holds 50 identical lines, and learned entries are appended in
  // order: a reader that sees a mixture, a partial list or a learned run that is not
  // consecutive has caught a change in the middle.
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
        const std::shared_ptr<const ListFile::Contents> contents = list.LoadContents();
        const Entries& entries = *contents->FromFile;
        if (entries.size() != 50 || entries.front() != entries.back()) ++torn;
        const std::span<const std::string> learned = contents->Learned();
        for (size_t i = 1; i < learned.size(); ++i) {
          const int number = platform::ParseNumber(learned[i].substr(15));
          if (number != platform::ParseNumber(learned[i - 1].substr(15)) + 1) ++torn;
        }
        list.AnyOccursIn("v7");
      }
    });
  }
  for (int n = 1; n <= static_cast<int>(ListFile::kMaxLearned) * 3; ++n) {
    list.AppendIfMissing(Learned(n));
  }
  for (int n = 1; n <= 200; ++n) {
    WriteAt(dir, "list.txt", version(n), n * kSecond);
    list.Refresh(path);
  }
  done = true;
  for (std::thread& reader : readers) reader.join();
  EXPECT_EQ(torn, 0);
  EXPECT_EQ(list.Load()->front(), "v200");
}

}  // namespace
}  // namespace tenvar::config
