// The common frame of the proxy tests: a private directory, nginx as the origin, and tenvar
// started from an OfficeOptions. Each test gets a fresh one (and its own network namespace
// through netns-run); used from the test's thread only.
#pragma once

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "platform/temp_dir.h"
#include "tests/e2e/curl_client.h"
#include "tests/e2e/office_config.h"
#include "tests/e2e/origin_server.h"
#include "tests/e2e/peer_program.h"
#include "tests/e2e/tenvar_process.h"

namespace tenvar::e2e {

class OfficeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    TENVAR_REQUIRE_PROGRAM("curl");
    TENVAR_REQUIRE_PROGRAM("nginx");
    origin_.emplace(dir_);
    ASSERT_TRUE(origin_->Running()) << origin_->Error();
  }

  // Starts tenvar and waits until its proxy listens; a fatal failure otherwise, so call it
  // under ASSERT_NO_FATAL_FAILURE.
  void StartTenvar(const OfficeOptions& options = {}) {
    tenvar_.emplace(dir_, std::vector<std::string>{WriteOfficeConfiguration(dir_, options)});
    ASSERT_TRUE(tenvar_->WaitForConsole(kProxyStarted))
        << "console: " << tenvar_->ConsoleSoFar() << "\nstderr: " << tenvar_->Stderr();
  }

  // curl through the proxy with `arguments` added.
  CurlResult Fetch(const std::vector<std::string>& arguments) {
    return Curl(dir_, ThroughProxy(arguments));
  }

  platform::TempDir dir_;
  std::optional<OriginServer> origin_;
  std::optional<TenvarProcess> tenvar_;
};

}  // namespace tenvar::e2e
