#include "platform/text.h"

#include <gtest/gtest.h>

namespace tenvar::platform {
namespace {

TEST(ParseNumber, ReadsLikeAtoiWithoutOverflowing) {
  const struct {
    const char* text;
    std::int32_t expected;
  } cases[] = {
      {"", 0},
      {"  -12x", -12},
      {"+5", 5},
      {"- 5", 0},
      {" 8080 >", 8080},
      {"0012", 12},
      {"99999999999", 2147483647},
      {"-99999999999", -2147483647 - 1},
  };
  for (const auto& c : cases) EXPECT_EQ(ParseNumber(c.text), c.expected) << c.text;
}

TEST(Text, TrimsEveryKindOfBlankAndComparesAsciiCaseOnly) {
  EXPECT_EQ(Trim(" \t\v\f a b \r\n"), "a b");
  EXPECT_TRUE(StartsWithIgnoreCase("cachedir /x", "CacheDir"));
  EXPECT_FALSE(StartsWithIgnoreCase("Cache", "CacheDir"));
  // Bytes of multibyte characters are never folded.
  EXPECT_FALSE(EqualsIgnoreCase("\xC3\xA9", "\xC3\x89"));
}

TEST(SplitLines, AcceptsLfAndCrLfAndKeepsEmptyLines) {
  EXPECT_EQ(SplitLines("a\r\n\nb\nc"), (std::vector<std::string>{"a", "", "b", "c"}));
  EXPECT_EQ(SplitLines("a\n"), (std::vector<std::string>{"a"}));
  EXPECT_TRUE(SplitLines("").empty());
}

}  // namespace
}  // namespace tenvar::platform
