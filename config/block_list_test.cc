#include "config/block_list.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "config/config_test_support.h"
#include "config/settings_file.h"
#include "platform/temp_dir.h"

namespace tenvar::config {
namespace {

constexpr platform::FileTime kBaseTime = 1'600'000'000 * kSecond;

HttpProxyOptions Options(const std::string& blockFile, bool advanced) {
  HttpProxyOptions options;
  options.BlockFile = blockFile;
  options.AdvancedBlocking = advanced;
  return options;
}

struct Request {
  std::string Host;
  std::string Path;
  int Blocked;
};

// Loads `contents` in one form and checks every request against it.
void ExpectRequests(bool advanced, const std::string& contents,
                    const std::vector<Request>& requests) {
  platform::TempDir dir;
  const HttpProxyOptions options = Options(dir.Write("block.txt", contents), advanced);
  BlockList list;
  list.LoadBlockFile(options);
  for (const Request& request : requests) {
    EXPECT_EQ(list.IsBlocked(request.Host, request.Path, options), request.Blocked)
        << "file:\n"
        << contents << "host " << request.Host << " path " << request.Path;
  }
}

// Every non-empty line is an entry exactly as read, blanks included.
TEST(BlockListPlain, BlocksEntriesOccurringInHostOrPathCaseSensitively) {
  ExpectRequests(false, "casino\r\n\r\n # kept \n",
                 {{"casino.one.two", "/", 1},
                  {"one.two", "/games/casino/index.html", 1},
                  {"onlinecasinos.two", "/", 1},
                  {"one.two", "/index.html", 0},
                  {"one.two", "/# kept", 0},
                  {"one.two", "/a # kept /", 1}});
  ExpectRequests(false, "Casino\n", {{"casino.one.two", "/casino", 0}});
}

TEST(BlockListRules, ParsesTheThreeFieldsAroundAnyBlanksAndSkipsOtherLines) {
  const std::optional<BlockRule> rule = ParseBlockRule(" \t+allow\t one..Two.  /a path* \r");
  ASSERT_TRUE(rule.has_value());
  EXPECT_TRUE(rule->Allow);
  EXPECT_FALSE(rule->AnyHost);
  EXPECT_EQ(rule->HostLabels, (std::vector<std::string>{"one", "Two"}));
  EXPECT_EQ(rule->UrlPattern, "/a path*");

  const std::optional<BlockRule> any = ParseBlockRule("-   *   *");
  ASSERT_TRUE(any.has_value());
  EXPECT_FALSE(any->Allow);
  EXPECT_TRUE(any->AnyHost);
  for (const char* line : {"", "   ", "# - * *", "#- * *", "- *", "-", "? * *", "* * *"}) {
    EXPECT_FALSE(ParseBlockRule(line).has_value()) << "line '" << line << "'";
  }
}

TEST(BlockListRules, LastMatchingRuleDecides) {
  // A skipped line ends nothing: the rule after it still counts.
  ExpectRequests(true, "- * *\n# - * *\n+ *.two.three *\n",
                 {{"one.two.three", "/", 0},
                  {"x.two.three.four", "/index.html", 0},
                  {"one.two.four", "/", 1}});
  ExpectRequests(true, "+ *.two.three *\n- * *\n", {{"one.two.three", "/", 1}});
}

TEST(BlockListRules, MatchesHostLabelsFromTheFirstAndPathsCaseInsensitively) {
  ExpectRequests(true, "- ads* *\n",
                 {{"ads.one.two", "/", 1},
                  {"adserver.one", "/", 1},
                  {"ADS.one", "/", 1},
                  {"one.ads.two", "/", 0}});
  ExpectRequests(true, "- one.two.three.four *\n",
                 {{"one.two.three", "/", 0}, {"one.two.three.four.five", "/", 1}});
  ExpectRequests(true, "- *ads.two *\n", {{"myads.two", "/", 1}, {"myads.three", "/", 0}});
  // A label over 127 characters matches only rules for any host.
  const std::string longHost = "ads" + std::string(197, 'x') + ".one";
  ExpectRequests(true, "- ads* *\n",
                 {{longHost, "/", 0}, {"ads" + std::string(124, 'x') + ".one", "/", 1}});
  ExpectRequests(true, "- * *\n", {{longHost, "/", 1}});
  ExpectRequests(true, "- *.two.three /cgi*\n",
                 {{"one.two.three", "/cgi-bin/x", 1},
                  {"one.two.three", "/CGI-BIN/x", 1},
                  {"one.two.three", "/index.html", 0}});
  ExpectRequests(true, "- one.two.three *.exe\n",
                 {{"one.two.three", "/setup.EXE", 1}, {"one.two.three", "/setup.exe.txt", 0}});
  ExpectRequests(true, "- * /exact\n", {{"one", "/Exact", 1}, {"one", "/exact/more", 0}});
}

TEST(BlockList, ReloadsWhenTheFileTimeChangesAndKeepsListsWhenItIsDeleted) {
  platform::TempDir dir;
  const std::string file = WriteAt(dir, "block.txt", "- * *\n", kBaseTime);
  const HttpProxyOptions options = Options(file, true);
  BlockList list;
  list.LoadBlockFile(options);
  EXPECT_EQ(list.BlockFileTime(), kBaseTime);
  const BlockList::Clock::time_point start = BlockList::Clock::now();
  EXPECT_EQ(list.IsBlocked("one", "/", options, start), 1);

  // Same time: the new contents go unnoticed.
  WriteAt(dir, "block.txt", "+ * *\n", kBaseTime);
  EXPECT_EQ(list.IsBlocked("one", "/", options, start + std::chrono::seconds(1)), 1);

  // A new time is seen, but not within a second of the last look.
  ASSERT_TRUE(platform::SetLastWriteTime(file, kBaseTime + kSecond));
  EXPECT_EQ(list.IsBlocked("one", "/", options, start + std::chrono::milliseconds(1500)), 1);
  EXPECT_EQ(list.IsBlocked("one", "/", options, start + std::chrono::seconds(2)), 0);
  EXPECT_EQ(list.BlockFileTime(), kBaseTime + kSecond);

  ASSERT_EQ(std::remove(file.c_str()), 0);
  EXPECT_EQ(list.IsBlocked("one", "/", options, start + std::chrono::seconds(3)), 0);
  EXPECT_EQ(list.Data()->Rules.size(), 1u);
}

// A test uses only the list of the form it asks for, so the directive's end loads the other. A
// missing or unnamed file leaves empty lists, and the form loaded is remembered.
TEST(BlockList, ReloadIfFormDiffersRereadsAFileFirstReadPlain) {
  platform::TempDir dir;
  const std::string file = dir.Write("block.txt", "- * *\n");
  BlockList list;
  list.ReloadIfFormDiffers(Options("", true));
  EXPECT_FALSE(list.Data()->LoadedAdvanced.has_value());
  list.ReloadIfFormDiffers(Options(file, false));  // never loaded: loads
  ASSERT_EQ(list.Data()->PlainEntries.size(), 1u);
  ASSERT_TRUE(list.Data()->Rules.empty());
  EXPECT_EQ(list.Data()->LoadedAdvanced, false);

  list.ReloadIfFormDiffers(Options(file, true));
  EXPECT_EQ(list.Data()->LoadedAdvanced, true);
  EXPECT_EQ(list.Data()->Rules.size(), 1u);
  EXPECT_EQ(list.Data()->PlainEntries.size(), 1u);

  // The same form again is left alone, whatever the file now says.
  dir.Write("block.txt", "");
  list.ReloadIfFormDiffers(Options(file, true));
  EXPECT_EQ(list.Data()->Rules.size(), 1u);

  list.LoadBlockFile(Options(dir.File("absent.txt"), true));
  EXPECT_TRUE(list.Data()->Rules.empty());
  EXPECT_EQ(list.Data()->LoadedAdvanced, true);
}

// A directive reads its block file as a list and again as rules when it closes; a file that
// is not a small regular one is still reported once.
TEST(BlockList, ARefusedFileIsReportedOnceThoughReadInBothForms) {
  platform::TempDir dir;
  const std::string fifo = dir.File("block.fifo");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  RecordingMessages messages;
  BlockList list;
  list.ReportTo(&messages);
  list.LoadBlockFile(Options(fifo, false));
  list.ReloadIfFormDiffers(Options(fifo, true));
  EXPECT_EQ(list.IsBlocked("one", "/", Options(fifo, true)), 0);
  EXPECT_EQ(messages.Lines(),
            std::vector<std::string>{"Cannot read block file: " + RefusedFileMessage(fifo)});
}

// Each version of the file has two rules and either blocks or allows everything; a test must
// never see a mixture, and concurrent reloads must not race (this runs under the sanitizers).
TEST(BlockList, ConcurrentTestsSeeWholeVersionsWhileTheFileIsRewritten) {
  platform::TempDir dir;
  const std::string file = dir.Write("block.txt", "+ * *\n- * *\n");
  const HttpProxyOptions options = Options(file, true);
  BlockList list;
  list.LoadBlockFile(options);

  const BlockList::Clock::time_point start = BlockList::Clock::now();
  std::atomic<long> tick = 0;
  constexpr int kVersions = 200;
  std::atomic<bool> done = false;
  std::atomic<int> failures = 0;
  std::vector<std::thread> readers;
  for (int i = 0; i < 4; ++i) {
    readers.emplace_back([&] {
      while (!done.load()) {
        // A made-up clock a second further at each call, so that every call looks at the
        // file and the readers race the reloads.
        const int blocked =
            list.IsBlocked("one.two", "/path", options, start + std::chrono::seconds(tick++));
        if (blocked != 0 && blocked != 1) ++failures;
        const std::shared_ptr<const BlockData> data = list.Data();
        if (data->Rules.size() != 2 || data->Rules[0].Allow == data->Rules[1].Allow) ++failures;
      }
    });
  }

  const std::string staging = dir.File("block.tmp");
  for (int version = 1; version <= kVersions; ++version) {
    // Renaming a finished file into place keeps readers from ever seeing half of one.
    // No ASSERT here: returning early would leave the readers running.
    WriteAt(dir, "block.tmp", version % 2 == 0 ? "+ * *\n- * *\n" : "- * *\n+ * *\n",
            kBaseTime + version * kSecond);
    EXPECT_EQ(std::rename(staging.c_str(), file.c_str()), 0);
    // Every other version is left for the readers to notice by its time.
    if (version % 2 == 0) list.LoadBlockFile(options);
  }
  done = true;
  for (std::thread& reader : readers) reader.join();

  EXPECT_EQ(failures.load(), 0);
  EXPECT_EQ(
      list.IsBlocked("one.two", "/path", options, start + std::chrono::seconds(tick.load() + 2)),
      1);
  EXPECT_EQ(list.BlockFileTime(), kBaseTime + kVersions * kSecond);
}

}  // namespace
}  // namespace tenvar::config
