// The peers themselves, asked directly with curl: if these fail, the proxy tests cannot say
// anything about the proxy.
#include <gtest/gtest.h>

#include "tests/e2e/curl_client.h"
#include "tests/e2e/origin_server.h"
#include "tests/e2e/peer_program.h"
#include "tests/e2e/tls_server.h"
#include "tests/e2e/upstream_proxy.h"

namespace tenvar::e2e {
namespace {

class Peers : public ::testing::Test {
 protected:
  void SetUp() override { TENVAR_REQUIRE_PROGRAM("curl"); }
  platform::TempDir dir_;
};

TEST_F(Peers, TheOriginServesItsFilesAndShowsWhatReachedIt) {
  TENVAR_REQUIRE_PROGRAM("nginx");
  OriginServer origin(dir_);
  ASSERT_TRUE(origin.Running()) << origin.Error();

  const CurlResult big = Curl(dir_, {OriginServer::Url("/big.bin")});
  EXPECT_EQ(big.Status, 200) << big.Stderr;
  EXPECT_EQ(big.Body.size(), OriginServer::kBigSize);
  EXPECT_TRUE(big.Body == origin.Content("big.bin"));

  const CurlResult echo = Curl(dir_, {"-H", "Connection: close", OriginServer::Url("/echo")});
  EXPECT_EQ(echo.Body, "GET /echo HTTP/1.1\nConnection: close\nVia: \n");

  const CurlResult upload = Curl(dir_, {"-X", "PUT", "--data", "x", OriginServer::Url("/upload")});
  EXPECT_EQ(upload.Body, "PUT body=x\n") << upload.Stderr;

  EXPECT_TRUE(origin.WaitForAccessLog("PUT /upload HTTP/1.1|")) << origin.AccessLog();
}

TEST_F(Peers, TheOriginSendsChunkedAnswersOnKeepAliveConnections) {
  TENVAR_REQUIRE_PROGRAM("nginx");
  OriginServer origin(dir_);
  ASSERT_TRUE(origin.Running()) << origin.Error();
  const CurlResult chunked = Curl(dir_, {OriginServer::Url("/chunked.txt")});
  EXPECT_NE(chunked.Headers.find("Transfer-Encoding: chunked"), std::string::npos)
      << chunked.Headers;
  EXPECT_NE(chunked.Headers.find("Connection: keep-alive"), std::string::npos) << chunked.Headers;
  EXPECT_EQ(chunked.Body, origin.Content("chunked.txt"));
  EXPECT_TRUE(origin.WaitForAccessLog("GET /chunked.txt HTTP/1.1|-|-|chunked"))
      << origin.AccessLog();
}

TEST_F(Peers, TheUpstreamProxyForwardsInAbsoluteFormAndAddsVia) {
  TENVAR_REQUIRE_PROGRAM("nginx");
  TENVAR_REQUIRE_PROGRAM("squid");
  OriginServer origin(dir_);
  ASSERT_TRUE(origin.Running()) << origin.Error();
  UpstreamProxy upstream(dir_);
  ASSERT_TRUE(upstream.Running()) << upstream.Error();

  const CurlResult echo = Curl(dir_, {"-x", "http://127.0.0.1:3128", OriginServer::Url("/echo")});
  EXPECT_EQ(echo.Status, 200) << echo.Stderr;
  EXPECT_NE(echo.Body.find(UpstreamProxy::kVia), std::string::npos) << echo.Body;
  EXPECT_TRUE(upstream.WaitForAccessLog("GET http://127.0.0.1:8081/echo")) << upstream.AccessLog();
}

TEST_F(Peers, TheTlsServerAnswersWithItsStatusPage) {
  TENVAR_REQUIRE_PROGRAM("openssl");
  TlsServer tls(dir_);
  ASSERT_TRUE(tls.Running()) << tls.Error();
  const CurlResult page =
      Curl(dir_, {"-k", "--resolve", "localhost:8443:127.0.0.1", "https://localhost:8443/"});
  EXPECT_EQ(page.Status, 200) << page.Stderr;
  EXPECT_NE(page.Body.find("<HTML><BODY"), std::string::npos) << page.Body;
}

}  // namespace
}  // namespace tenvar::e2e
