#include "cache/cache_path.h"

#include <gtest/gtest.h>

namespace tenvar::cache {
namespace {

TEST(CachePathFor, MapsHostAndPathBelowTheCacheDirectory) {
  const struct {
    const char* host;
    const char* path;
    const char* expected;
  } cases[] = {
      {"www.example", "/", "/c/www.example/index.html"},
      {"www.example", "/a/b/", "/c/www.example/a/b/index.html"},
      {"www.example", "/docs/a.html", "/c/www.example/docs/a.html"},
      {"www.example", "/x*y<z>w|v.gif", "/c/www.example/x_y_z_w_v.gif"},
      {"www.example", "/A%20b:c\"d", "/c/www.example/A%20b:c\"d"},
      {"www.example", "/a/./b", "/c/www.example/a/./b"},
      {"www.example", "/..a/b..", "/c/www.example/..a/b.."},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(CachePathFor("/c", c.host, 80, c.path), c.expected) << c.host << c.path;
  }
}

TEST(CachePathFor, NeverNamesAFileOutsideTheCacheDirectory) {
  const struct {
    std::string host;
    std::string path;
  } cases[] = {
      {"www.example", "/../../etc/passwd"},
      {"www.example", "/a/../../b"},
      {"..", "/etc/passwd"},
      {"", "/etc/passwd"},
      {"www.example", "/.."},
      {"www.example", std::string("/a\0b", 4)},
      {"a/../..", "/x"},
      {"www.example", "/search?q=x"},
      {".headers", "/x"},
      {".partial", "/x"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(CachePathFor("/c", c.host, 80, c.path), std::nullopt) << c.host << c.path;
  }
}

TEST(CachePathFor, APortOtherThan80HasItsOwnFolderAndHeadersLieApart) {
  EXPECT_EQ(CachePathFor("/c", "h", 80, "/a"), "/c/h/a");
  EXPECT_EQ(CachePathFor("/c", "h", 8081, "/a"), "/c/h:8081/a");
  EXPECT_EQ(CachePathFor("/c", "h", 8082, "/"), "/c/h:8082/index.html");
  EXPECT_EQ(KeptHeadersPathFor("/c", "/c/h:8081/a/b"), "/c/.headers/h:8081/a/b");
}

TEST(CachePathFor, CountsOnlyTheThreePartsAgainstTheLengthLimit) {
  const std::string dir = "/c";
  const std::string host = "h";
  EXPECT_TRUE(CachePathFor(dir, host, 80, "/" + std::string(255, 'p')).has_value());   // 259
  EXPECT_FALSE(CachePathFor(dir, host, 80, "/" + std::string(256, 'p')).has_value());  // 260
}

}  // namespace
}  // namespace tenvar::cache
