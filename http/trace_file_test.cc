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

// Entries go to their own path in order, and a file removed, renamed or replaced from outside
// (as log rotation does) is followed: the next entry goes to whatever the path names then.
// Entries from many threads at once never interleave.
TEST(TraceFile, AppendsWholeEntriesToWhatThePathNamesAtEachEntry) {
  platform::TempDir dir;
  const std::string requests = dir.File("requests.txt");
  const std::string responses = dir.File("responses.txt");
  AppendTrace(requests.c_str(), "GET /one\r\n\r\n");
  AppendTrace(responses.c_str(), "response");
  AppendTrace(requests.c_str(), "GET /two\r\n\r\n");
  EXPECT_EQ(ReadFileText(requests), "GET /one\r\n\r\nGET /two\r\n\r\n");
  EXPECT_EQ(ReadFileText(responses), "response");

  ASSERT_EQ(std::remove(requests.c_str()), 0);
  AppendTrace(requests.c_str(), "after removal");
  EXPECT_EQ(ReadFileText(requests), "after removal");

  std::filesystem::rename(responses, dir.File("responses.old"));
  AppendTrace(responses.c_str(), "new entry");
  EXPECT_EQ(ReadFileText(dir.File("responses.old")), "response");
  EXPECT_EQ(ReadFileText(responses), "new entry");

  std::filesystem::rename(dir.Write("replacement.txt", "kept "), requests);
  AppendTrace(requests.c_str(), "second");
  EXPECT_EQ(ReadFileText(requests), "kept second");

  const std::string unopenable = dir.File("missing/requests.txt");
  AppendTrace(unopenable.c_str(), "lost");
  EXPECT_FALSE(std::filesystem::exists(unopenable));
  std::filesystem::create_directory(dir.File("missing"));
  AppendTrace(unopenable.c_str(), "kept");
  EXPECT_EQ(ReadFileText(unopenable), "kept");

  const std::string path = dir.File("concurrent.txt");
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
