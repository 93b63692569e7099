#include "http/keyword_scanner.h"

#include <gtest/gtest.h>

namespace tenvar::http {
namespace {

// The body arrives in the blocks given; the URL is searched on its own. Once the first keyword
// of the list is found, or when there is nothing to find, the scanner wants no more.
TEST(KeywordScanner, FindsKeywordsWhereverTheBlocksSplitThemAndWantsNoMoreOnceItCanStop) {
  const struct {
    const char* name;
    std::vector<std::string> keywords;
    std::string url;
    std::vector<std::string> blocks;
    std::optional<std::string> found;
    bool wantsMore = false;
  } cases[] = {
      {"inside one block", {"casino"}, "http://x/", {"a casino here", "more"}, "casino"},
      {"split after its first byte", {"casino"}, "http://x/", {"...c", "asino..."}, "casino"},
      {"split before its last byte", {"casino"}, "http://x/", {"...casin", "o..."}, "casino"},
      {"at the very end of a block", {"casino"}, "http://x/", {"casino", "after"}, "casino"},
      {"one byte per block", {"poker"}, "http://x/", {"p", "o", "k", "e", "r"}, "poker"},
      {"split, with a longer keyword in the list",
       {"bet", "roulette"},
       "http://x/",
       {"..........b", "et"},
       "bet"},
      {"split short keyword after a long quiet block",
       {"roulette", "bet"},
       "http://x/",
       {std::string(70000, '.') + "be", "t" + std::string(70000, '.')},
       "bet",
       true},  // "roulette" could still come, and it would win
      {"list order decides, not stream order",
       {"poker", "casino"},
       "http://x/",
       {"casino first", " then pok", "er"},
       "poker"},
      {"url and body are not joined", {"xyz"}, "http://x/x", {"yz", "..."}, std::nullopt, true},
      {"in the url", {"casino"}, "http://casino/", {"clean"}, "casino"},
      {"a near miss split", {"casino"}, "http://x/", {"cas", "ni..casi", "on"}, std::nullopt, true},
      {"no blocks at all", {"casino"}, "http://x/", {}, std::nullopt, true},
      {"no keywords", {}, "http://x/", {"casino"}, std::nullopt},
      {"an empty keyword", {""}, "http://x/", {"casino"}, std::nullopt},
      {"empty blocks between halves", {"casino"}, "http://x/", {"cas", "", "", "ino"}, "casino"},
  };
  for (const auto& c : cases) {
    KeywordScanner scanner(c.keywords);
    scanner.ScanWhole(c.url);
    for (const std::string& block : c.blocks) scanner.Feed(block);
    EXPECT_EQ(scanner.Found(), c.found) << c.name;
    EXPECT_EQ(scanner.WantsMore(), c.wantsMore) << c.name;
  }
}

}  // namespace
}  // namespace tenvar::http
