#include "config/settings_file.h"

#include <gtest/gtest.h>

namespace tenvar::config {
namespace {

TEST(ParseBoolean, AcceptsYesOnAndOneInAnyCaseOnly) {
  for (const char* value : {"Yes", "yes", "YES", "On", "oN", "1"}) {
    EXPECT_TRUE(ParseBoolean(value)) << value;
  }
  for (const char* value : {"", "No", "true", "Y", "01", "Yes ", "es", "=Yes"}) {
    EXPECT_FALSE(ParseBoolean(value)) << value;
  }
}

}  // namespace
}  // namespace tenvar::config
