#include "http/session_pipeline.h"

#include <gtest/gtest.h>

#include "http/proxy_answer.h"

namespace tenvar::http {
namespace {

TEST(ProxyAnswer, WrapsTheTextInAStatusLineThatClosesTheConnection) {
  EXPECT_EQ(ProxyAnswer("503 Service Unavailable",
                        "Connecting to the Internet, please try again shortly"),
            "HTTP/1.0 503 Service Unavailable\r\nContent-Type: text/plain\r\nContent-Length: 52\r\n"
            "Connection: close\r\n\r\nConnecting to the Internet, please try again shortly");
}

}  // namespace
}  // namespace tenvar::http
