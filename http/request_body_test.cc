#include "http/request_body.h"

#include <gtest/gtest.h>

#include <string>

namespace tenvar::http {
namespace {

using Kind = BodyFraming::Kind;

std::string Head(std::string_view fields) {
  return "POST http://origin/upload HTTP/1.1\r\nHost: origin\r\n" + std::string(fields) + "\r\n";
}

// Plain framings and some refusals are sent by curl or a socket in the whole-program tests.
TEST(BodyFraming, ReadsTheHeaderBlockAndRefusesWhatPeersCouldReadTwoWays) {
  struct Case {
    const char* Fields;
    std::optional<Kind> Type;  // nothing: refused
    std::uint64_t Length = 0;
  };
  const Case cases[] = {
      {"Content-Length: 0\r\n", Kind::Length, 0},
      {"content-length:   300\r\n", Kind::Length, 300},
      {"Content-Length: 7, 7\r\nContent-Length: 7\r\n", Kind::Length, 7},
      {"Transfer-Encoding: gzip, Chunked\r\n", Kind::Chunked},
      {"Content-Length: 7\r\nContent-Length: 8\r\n", std::nullopt},
      {"Content-Length: -1\r\n", std::nullopt},
      {"Content-Length: 12abc\r\n", std::nullopt},
      {"Content-Length: \r\n", std::nullopt},
      {"Content-Length: 99999999999999999999\r\n", std::nullopt},
      {"Content-Length: 5\r\nTransfer-Encoding: chunked\r\n", std::nullopt},
      {"Content-Length : 5\r\n", std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Fields);
    const std::optional<BodyFraming> framing = BodyFramingOf(Head(c.Fields));
    ASSERT_EQ(framing.has_value(), c.Type.has_value());
    if (!framing) continue;
    EXPECT_EQ(framing->Type, *c.Type);
    EXPECT_EQ(framing->Length, c.Length);
  }
}

TEST(BodyFraming, OnlyAnHttp11RequestWaitsForContinue) {
  const std::string head = Head("Content-Length: 5\r\nexpect: 100-Continue\r\n");
  EXPECT_TRUE(ExpectsContinue(head, "HTTP/1.1"));
  EXPECT_FALSE(ExpectsContinue(head, "HTTP/1.0"));
  EXPECT_FALSE(ExpectsContinue(Head("Content-Length: 5\r\n"), "HTTP/1.1"));
}

struct Fed {
  BodyEnd::State State;
  std::size_t Taken;  // bytes taken as body, framing included
  std::string Data;   // the body without its framing
};

// Feeds `stream` in pieces of `step` bytes.
Fed FeedInSteps(BodyFraming framing, std::string_view stream, std::size_t step) {
  BodyEnd end(framing);
  Fed fed{BodyEnd::State::NeedMore, 0, ""};
  for (std::size_t at = 0; at < stream.size() && end.Current() == BodyEnd::State::NeedMore;
       at += step) {
    std::size_t used = 0;
    end.Feed(stream.substr(at, step), used, [&](std::string_view data) { fed.Data += data; });
    fed.Taken += used;
  }
  fed.State = end.Current();
  return fed;
}

TEST(BodyEnd, FindsTheLastByteOfAChunkedBodyHoweverItIsCut) {
  const std::string body =
      "5;name=value\r\nhello\r\n1A\r\nabcdefghijklmnopqrstuvwxyz\r\n0\r\nX-Sum: 1\r\n\r\n";
  const std::string stream = body + "GET /next HTTP/1.1\r\n";
  for (std::size_t step : {std::size_t{1}, std::size_t{3}, stream.size()}) {
    SCOPED_TRACE(step);
    const Fed fed = FeedInSteps({Kind::Chunked, 0}, stream, step);
    EXPECT_EQ(fed.State, BodyEnd::State::Complete);
    EXPECT_EQ(fed.Taken, body.size());
    EXPECT_EQ(fed.Data, "helloabcdefghijklmnopqrstuvwxyz");
  }
  EXPECT_EQ(FeedInSteps({Kind::Chunked, 0}, "0\r\n\r\n", 1).State, BodyEnd::State::Complete);
  EXPECT_EQ(FeedInSteps({Kind::Chunked, 0}, "5\r\nhel", 2).State, BodyEnd::State::NeedMore);
}

TEST(BodyEnd, RefusesBrokenChunkFraming) {
  for (const char* stream :
       {"x\r\n", "5\r\nhelloX\r\n", "5\nhello\r\n", "\r\n", "10000000000000000\r\n", "0\r\n\n"}) {
    SCOPED_TRACE(stream);
    EXPECT_EQ(FeedInSteps({Kind::Chunked, 0}, stream, 1).State, BodyEnd::State::Malformed);
  }
}

TEST(BodyEnd, TakesExactlyTheDeclaredLength) {
  const Fed fed = FeedInSteps({Kind::Length, 10}, "0123456789EXTRA", 4);
  EXPECT_EQ(fed.State, BodyEnd::State::Complete);
  EXPECT_EQ(fed.Taken, 10u);
  EXPECT_EQ(fed.Data, "0123456789");
  EXPECT_EQ(BodyEnd({Kind::None, 0}).Current(), BodyEnd::State::Complete);
  EXPECT_EQ(BodyEnd({Kind::Length, 0}).Current(), BodyEnd::State::Complete);
}

}  // namespace
}  // namespace tenvar::http
