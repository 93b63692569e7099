#include "config/list_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <thread>

#include "config/config_test_support.h"
#include "platform/text.h"
#include "config/settings_file.h"
#include "platform/temp_dir.h"

namespace tenvar::config {
namespace {

using Entries = ListFile::Entries;

TEST(ListFile, KeepsNonEmptyLinesExactlyAsWritten) {
  platform::TempDir dir;
  const std::string path = dir.Write("excl.txt", "ads\r\n\n ads \n# comment\nads\n");
  ListFile list;
  list.Refresh(path);
  EXPECT_EQ(*list.Load(), (Entries{"ads", " ads ", "# comment", "ads"}));
  EXPECT_TRUE(list.AnyOccursIn("http://x/ ads /"));
  EXPECT_FALSE(list.AnyOccursIn("http://x/ADS"));
}

TEST(ListFile, RereadsOnlyANewTimeAndAVanishedFileStaysEmptyUntilItHasOne) {
  platform::TempDir dir;
  const std::string path = WriteAt(dir, "list.txt", "one\n", 100 * kSecond);
  ListFile list;
  list.Refresh(path);
  EXPECT_EQ(list.Time(), 100 * kSecond);

  // Same time stamp: the new content goes unnoticed.
  WriteAt(dir, "list.txt", "two\n", 100 * kSecond);
  list.Refresh(path);
  EXPECT_EQ(*list.Load(), Entries{"one"});
  platform::SetLastWriteTime(path, 200 * kSecond);
  list.Refresh(path);
  EXPECT_EQ(*list.Load(), Entries{"two"});

  std::filesystem::remove(path);
  list.Refresh(path);
  EXPECT_TRUE(list.Load()->empty());
  WriteAt(dir, "list.txt", "two\n", 200 * kSecond);
  list.Refresh(path);
  EXPECT_TRUE(list.Load()->empty());
  list.Refresh("");  // no file named at all
  EXPECT_TRUE(list.Load()->empty());
}

TEST(ListFile, RunTimeAppendsLastUntilTheFileChangesAndAreNotDuplicated) {
  platform::TempDir dir;
  const std::string path = WriteAt(dir, "trusted.txt", "a.example\n", 100 * kSecond);
  ListFile list;
  list.Refresh(path);
  EXPECT_TRUE(list.AppendIfMissing("http://b.example/"));
  EXPECT_FALSE(list.AppendIfMissing("http://b.example/"));
  EXPECT_FALSE(list.AppendIfMissing("a.example"));
  list.Refresh(path);
  EXPECT_EQ(*list.Load(), Entries{"a.example"});
  const std::span<const std::string> learned = list.LoadContents()->Learned();
  EXPECT_EQ(Entries(learned.begin(), learned.end()), Entries{"http://b.example/"});
  EXPECT_TRUE(list.AnyOccursIn("http://b.example/page"));

  platform::SetLastWriteTime(path, 300 * kSecond);
  list.Refresh(path);
  EXPECT_EQ(*list.Load(), Entries{"a.example"});
  EXPECT_TRUE(list.LoadContents()->Learned().empty());
  EXPECT_FALSE(list.AnyOccursIn("http://b.example/page"));
}

std::string Learned(int n) { return "http://learned/" + std::to_string(n); }

TEST(ListFile, LearnedEntriesStopAtTheBoundOldestFirstAndFileEntriesStay) {
  platform::TempDir dir;
  const std::string path = dir.Write("trusted.txt", "file-one\nfile-two\n");
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
}

TEST(ListFile, ReadersSeeEveryAppendWholeWhileTheListGrows) {
  ListFile list;
  std::atomic<bool> done{false};
  std::atomic<int> torn{0};
  std::thread reader([&] {
    while (!done) {
      const std::shared_ptr<const ListFile::Contents> contents = list.LoadContents();
      const std::span<const std::string> learned = contents->Learned();
      // Entries are appended in order, so a consistent view is a run of consecutive ones.
      for (size_t i = 1; i < learned.size(); ++i) {
        const std::string_view number = std::string_view(learned[i]).substr(15);
        const std::string_view previous = std::string_view(learned[i - 1]).substr(15);
        if (number.empty() || platform::ParseNumber(number) != platform::ParseNumber(previous) + 1) ++torn;
      }
    }
  });
  for (int n = 0; n < static_cast<int>(ListFile::kMaxLearned) * 3; ++n) {
    list.AppendIfMissing(Learned(n));
  }
  done = true;
  reader.join();
  EXPECT_EQ(torn, 0);
}

// Files that must be treated as missing; each reported once, not at every refresh.
struct RefusedFile {
  const char* Name;
  std::function<std::string(const platform::TempDir&)> Make;
};

const RefusedFile kRefusedFiles[] = {
    {"a FIFO",
     [](const platform::TempDir& dir) {
       const std::string path = dir.File("fifo");
       ::mkfifo(path.c_str(), 0600);
       return path;
     }},
    {"an endless device", [](const platform::TempDir&) { return std::string("/dev/zero"); }},
    {"a directory", [](const platform::TempDir& dir) { return dir.Path(); }},
    {"a file one byte over the limit",
     [](const platform::TempDir& dir) {
       const std::string path = dir.Write("huge.txt", "");
       std::filesystem::resize_file(path, kMaxSettingsFileBytes + 1);
       return path;
     }},
};

TEST(ListFile, RefusesFilesThatAreNotSmallRegularFiles) {
  for (const RefusedFile& refused : kRefusedFiles) {
    SCOPED_TRACE(refused.Name);
    platform::TempDir dir;
    const std::string good = WriteAt(dir, "good.txt", "kept\n", 100 * kSecond);
    const std::string path = refused.Make(dir);
    RecordingMessages messages;
    ListFile list;
    list.ReportTo(&messages);
    list.Refresh(good);
    ASSERT_EQ(*list.Load(), Entries{"kept"});

    list.Refresh(path);
    EXPECT_TRUE(list.LoadContents()->Empty());
    list.Refresh(path);
    EXPECT_EQ(messages.Lines(), std::vector<std::string>{"Cannot read list file: " + path +
                                                         " is not a regular file of at most "
                                                         "16 MiB; it is treated as missing"});
  }
}

TEST(ListFile, ReadsAFileOfExactlyTheLimit) {
  platform::TempDir dir;
  const std::string path = dir.Write("big.txt", "first\n");
  std::filesystem::resize_file(path, kMaxSettingsFileBytes);
  ListFile list;
  list.Refresh(path);
  ASSERT_EQ(list.Load()->size(), 2u);
  EXPECT_EQ(list.Load()->front(), "first");
}

TEST(ListFile, RefreshIfDueLooksAtTheFileAtMostOncePerInterval) {
  platform::TempDir dir;
  const std::string path = WriteAt(dir, "list.txt", "one\n", 100 * kSecond);
  const ListFile::Clock::time_point start{std::chrono::hours(1)};
  ListFile list;
  list.RefreshIfDue(path, start);
  ASSERT_EQ(*list.Load(), Entries{"one"});

  WriteAt(dir, "list.txt", "two\n", 200 * kSecond);
  struct Step {
    std::chrono::milliseconds After;
    const char* Expected;
  };
  // Each step is measured from `start`; the second check is due one interval after the
  // first, the third one interval after the second.
  const Step steps[] = {{std::chrono::milliseconds(0), "one"},
                        {std::chrono::milliseconds(999), "one"},
                        {std::chrono::milliseconds(1000), "two"}};
  for (const Step& step : steps) {
    list.RefreshIfDue(path, start + step.After);
    EXPECT_EQ(list.Load()->front(), step.Expected) << step.After.count();
  }
  WriteAt(dir, "list.txt", "three\n", 300 * kSecond);
  list.RefreshIfDue(path, start + std::chrono::milliseconds(1999));
  EXPECT_EQ(list.Load()->front(), "two");
  list.RefreshIfDue(path, start + std::chrono::milliseconds(2000));
  EXPECT_EQ(list.Load()->front(), "three");
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
