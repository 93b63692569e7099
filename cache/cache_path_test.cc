#include "cache/cache_path.h"

#include <gtest/gtest.h>

namespace tenvar::cache {
namespace {

// Only the three parts count against the length limit: 259 characters pass, 260 do not.
// Plain paths, ports and ".." names as browsers send them are fetched end to end too.
TEST(CachePathFor, MapsHostPortAndPathBelowTheCacheDirectory) {
  const struct {
    const char* host;
    int port;
    std::string path;
    std::string expected;
  } cases[] = {
      {"www.example", 80, "/", "/c/www.example/index.html"},
      {"www.example", 80, "/a/b/", "/c/www.example/a/b/index.html"},
      {"www.example", 80, "/x*y<z>w|v.gif", "/c/www.example/x_y_z_w_v.gif"},
      {"www.example", 80, "/A%20b:c\"d", "/c/www.example/A%20b:c\"d"},
      {"www.example", 80, "/a/./b", "/c/www.example/a/./b"},
      {"www.example", 80, "/..a/b..", "/c/www.example/..a/b.."},
      {"h", 8082, "/", "/c/h:8082/index.html"},
      {"h", 80, "/" + std::string(255, 'p'), "/c/h/" + std::string(255, 'p')},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(CachePathFor("/c", c.host, c.port, c.path), c.expected) << c.host << c.path;
  }
  EXPECT_EQ(KeptHeadersPathFor("/c", "/c/h:8081/a/b"), "/c/.headers/h:8081/a/b");
}

TEST(CachePathFor, NeverNamesAFileOutsideTheCacheDirectory) {
  const struct {
    std::string host;
    std::string path;
  } cases[] = {
      {"www.example", "/a/../../b"},
      {"", "/etc/passwd"},
      {"www.example", "/.."},
      {"www.example", std::string("/a\0b", 4)},
      {"a/../..", "/x"},
      {"www.example", "/search?q=x"},
      {".headers", "/x"},
      {".partial", "/x"},
      {"h", "/" + std::string(256, 'p')},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(CachePathFor("/c", c.host, 80, c.path), std::nullopt) << c.host << c.path;
  }
}

}  // namespace
}  // namespace tenvar::cache
