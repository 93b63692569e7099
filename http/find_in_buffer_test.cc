#include "http/find_in_buffer.h"

#include <gtest/gtest.h>

#include <string>

namespace tenvar::http {
namespace {

using namespace std::string_literals;

TEST(FindInBuffer, FindsTheFirstOccurrenceByteForByte) {
  EXPECT_EQ(FindInBuffer("a\r\n\r\nb\r\n\r\n", "\r\n\r\n"), 1u);
  EXPECT_EQ(FindInBuffer("Content-Length", "Length"), 8u);
  EXPECT_EQ(FindInBuffer("content-length", "Length"), std::nullopt);
}

TEST(FindInBuffer, LooksPastNulBytes) {
  const std::string buffer = "\0\0xy\0z"s;
  EXPECT_EQ(FindInBuffer(buffer, "\0z"s), 4u);
}

TEST(FindInBuffer, TextMustLieWhollyInsideTheBuffer) {
  EXPECT_EQ(FindInBuffer("abc\r\n\r", "\r\n\r\n"), std::nullopt);
  EXPECT_EQ(FindInBuffer("", "a"), std::nullopt);
  EXPECT_EQ(FindInBuffer("ab", "abc"), std::nullopt);
}

TEST(FindInBuffer, EmptyTextIsFoundAtTheStart) {
  EXPECT_EQ(FindInBuffer("abc", ""), 0u);
  EXPECT_EQ(FindInBuffer("", ""), 0u);
}

}  // namespace
}  // namespace tenvar::http
