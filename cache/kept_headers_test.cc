#include "cache/kept_headers.h"

#include <gtest/gtest.h>

#include "cache/header_fields.h"

namespace tenvar::cache {
namespace {

TEST(KeptHeaders, ReadBackAsWrittenAndJudgeTheirAge) {
  KeptHeaders headers;
  headers.StoredAt = 1000;
  headers.InitialAge = 5;
  headers.Lifetime = 60;
  headers.BodyBytes = 12;
  headers.BodyInode = 34;
  headers.Fields = "Content-Type: text/html\r\nVary: Accept-Encoding\r\n";
  const std::optional<KeptHeaders> read = ParseKeptHeaders(FormatKeptHeaders(headers));
  ASSERT_TRUE(read.has_value());
  EXPECT_EQ(read->Fields, headers.Fields);
  EXPECT_FALSE(read->StaleAt(1054));
  EXPECT_TRUE(read->StaleAt(1055));
  headers.Lifetime.reset();
  EXPECT_FALSE(ParseKeptHeaders(FormatKeptHeaders(headers))->StaleAt(1'000'000));
  EXPECT_FALSE(ParseKeptHeaders("Stored-At: x\r\n\r\n").has_value());
  EXPECT_FALSE(ParseKeptHeaders("Content-Type: text/html\r\n").has_value());
}

TEST(HeaderFields, KeepTheEndToEndFieldsAndReadListsInAnyCase) {
  const std::string head =
      "HTTP/1.1 200 OK\r\nDate: d\r\nConnection: close, X-Hop\r\nX-Hop: 1\r\n"
      "Keep-Alive: timeout=5\r\nTransfer-Encoding: chunked\r\nContent-Length: 9\r\nAge: 3\r\n"
      "Proxy-Authenticate: Basic\r\nContent-Type: text/html\r\nCache-Control: max-age=60\r\n"
      "cache-control: Private=\"x\", s-maxage=\"7\"\r\n";
  EXPECT_EQ(EndToEndFields(head),
            "Date: d\r\nContent-Type: text/html\r\nCache-Control: max-age=60\r\n"
            "cache-control: Private=\"x\", s-maxage=\"7\"\r\n");
  const std::string cacheControl = FieldValue(head, "Cache-Control").value_or("");
  EXPECT_EQ(cacheControl, "max-age=60, Private=\"x\", s-maxage=\"7\"");
  EXPECT_TRUE(HasToken(cacheControl, "private"));
  EXPECT_FALSE(HasToken(cacheControl, "public"));
  EXPECT_EQ(TokenSeconds(cacheControl, "max-age"), 60);
  EXPECT_EQ(TokenSeconds(cacheControl, "s-maxage"), 7);
  EXPECT_EQ(TokenSeconds("max-age=abc", "max-age"), std::nullopt);
  EXPECT_EQ(FieldValue(head, "Expires"), std::nullopt);
  EXPECT_EQ(MergeFields("Date: old\r\nContent-Type: text/html\r\nETag: a\r\n",
                        "Date: new\r\nETag: b\r\nContent-Type: text/plain\r\nX-New: 1\r\n"),
            "ETag: a\r\nDate: new\r\nContent-Type: text/plain\r\nX-New: 1\r\n");
}

}  // namespace
}  // namespace tenvar::cache
