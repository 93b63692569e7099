#include "http/trace_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "platform/temp_dir.h"

namespace tenvar::http {
namespace {

using platform::ReadFileText;

TEST(TraceFile, AppendsEveryEntryInOrder) {
  platform::TempDir dir;
  const std::string path = dir.File("requests.txt");
  AppendTrace(path.c_str(), "GET /one\r\n\r\n");
  AppendTrace(path.c_str(), "GET /two\r\n\r\n");
  EXPECT_EQ(ReadFileText(path), "GET /one\r\n\r\nGET /two\r\n\r\n");
}

// Traces hold cookies and passwords: only the owner reads them, even a file that an older
// version left readable to all. A full trace moves aside to ".1", replacing the last one.
TEST(TraceFile, IsTheOwnersAloneAndRollsOverWhenFull) {
  platform::TempDir dir;
  const std::string path = dir.File("requests.txt");
  dir.Write("requests.txt", "");
  ASSERT_EQ(::chmod(path.c_str(), 0644), 0);
  const auto modeOf = [](const std::string& file) {
    return std::filesystem::status(file).permissions() & std::filesystem::perms::all;
  };
  AppendTrace(path.c_str(), "first", 12);
  EXPECT_EQ(modeOf(path), std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
  AppendTrace(path.c_str(), "second", 12);  // 11 bytes: still under the limit
  AppendTrace(path.c_str(), "third", 12);   // 16 bytes: moved aside after this entry
  AppendTrace(path.c_str(), "fourth", 12);
  AppendTrace(path.c_str(), "fifth and more", 12);  // over again: replaces the ".1"
  AppendTrace(path.c_str(), "sixth", 12);
  EXPECT_EQ(ReadFileText(path + ".1"), "fourthfifth and more");
  EXPECT_EQ(ReadFileText(path), "sixth");
  EXPECT_EQ(modeOf(path), std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
}

TEST(TraceFile, KeepsEachPathsEntriesApart) {
  platform::TempDir dir;
  const std::string requests = dir.File("requests.txt");
  const std::string responses = dir.File("responses.txt");
  AppendTrace(requests.c_str(), "request");
  AppendTrace(responses.c_str(), "response");
  AppendTrace(requests.c_str(), "again");
  EXPECT_EQ(ReadFileText(requests), "requestagain");
  EXPECT_EQ(ReadFileText(responses), "response");
}

TEST(TraceFile, ARemovedFileIsCreatedAfreshAtTheNextEntry) {
  platform::TempDir dir;
  const std::string path = dir.File("requests.txt");
  AppendTrace(path.c_str(), "before");
  ASSERT_EQ(std::remove(path.c_str()), 0);
  AppendTrace(path.c_str(), "after");
  EXPECT_EQ(ReadFileText(path), "after");
}

TEST(TraceFile, ARenamedFileKeepsItsEntriesAndThePathGetsANewFile) {
  platform::TempDir dir;
  const std::string path = dir.File("responses.txt");
  const std::string rotated = dir.File("responses.old");
  AppendTrace(path.c_str(), "old entry");
  std::filesystem::rename(path, rotated);
  AppendTrace(path.c_str(), "new entry");
  EXPECT_EQ(ReadFileText(rotated), "old entry");
  EXPECT_EQ(ReadFileText(path), "new entry");
}

TEST(TraceFile, AFileReplacedByAnotherGetsTheNextEntry) {
  platform::TempDir dir;
  const std::string path = dir.File("requests.txt");
  AppendTrace(path.c_str(), "first");
  const std::string replacement = dir.Write("replacement.txt", "kept ");
  std::filesystem::rename(replacement, path);
  AppendTrace(path.c_str(), "second");
  EXPECT_EQ(ReadFileText(path), "kept second");
}

TEST(TraceFile, AnUnopenableFileIsSkippedUntilItCanBeOpened) {
  platform::TempDir dir;
  const std::string path = dir.File("missing/requests.txt");
  AppendTrace(path.c_str(), "lost");
  EXPECT_FALSE(std::filesystem::exists(path));
  std::filesystem::create_directory(dir.File("missing"));
  AppendTrace(path.c_str(), "kept");
  EXPECT_EQ(ReadFileText(path), "kept");
}

TEST(TraceFile, ConcurrentEntriesNeverInterleave) {
  platform::TempDir dir;
  const std::string path = dir.File("requests.txt");
  constexpr int kThreads = 8;
  constexpr int kEntries = 200;
  constexpr std::size_t kEntrySize = 3000;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&path, t] {
      const std::string entry(kEntrySize, static_cast<char>('a' + t));
      for (int i = 0; i < kEntries; ++i) AppendTrace(path.c_str(), entry);
    });
  }
  for (std::thread& thread : threads) thread.join();
  const std::string text = ReadFileText(path);
  ASSERT_EQ(text.size(), kThreads * kEntries * kEntrySize);
  for (std::size_t at = 0; at < text.size(); at += kEntrySize) {
    EXPECT_EQ(text.substr(at, kEntrySize), std::string(kEntrySize, text[at])) << "at " << at;
  }
}

}  // namespace
}  // namespace tenvar::http
