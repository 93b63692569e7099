// List and block files that are not small regular files: the program must treat them as
// missing, not wait on them, whether it meets them at start-up or in a session.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>

#include "config/settings_file.h"
#include "tests/e2e/office_fixture.h"

namespace tenvar::e2e {
namespace {

using ListFiles = OfficeTest;

TEST_F(ListFiles, FifosAsListAndBlockFilesHangNeitherARequestNorTheShutDown) {
  const std::string ini = WriteOfficeConfiguration(dir_, OfficeOptions{});
  // Nobody ever writes to these FIFOs: a blocking open or read would wait forever.
  const char* const fifos[] = {"block.txt", "direct.txt", "words.txt", "trusted.txt",
                               "nocache.txt"};
  for (const char* name : fifos) {
    const std::string path = dir_.File(name);
    std::filesystem::remove(path);
    ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0) << path;
  }
  ASSERT_NO_FATAL_FAILURE(StartTenvarWith(ini));

  for (int request = 0; request < 2; ++request) {
    const CurlResult answer = Fetch({OriginServer::Url("/echo")});
    EXPECT_EQ(answer.ExitCode, 0) << answer.Stderr;
    EXPECT_EQ(answer.Status, 200) << answer.Headers;
    EXPECT_TRUE(answer.Body.starts_with("GET /echo HTTP/1.1\n")) << answer.Body;
  }
  ASSERT_TRUE(tenvar_->Stop()) << tenvar_->Stderr();

  // Each file is reported once, not once per request.
  const std::string stderrText = tenvar_->Stderr();
  for (const char* name : fifos) {
    EXPECT_EQ(Occurrences(stderrText, config::RefusedFileMessage(dir_.File(name))), 1u)
        << name << "\n"
        << stderrText;
  }
}

}  // namespace
}  // namespace tenvar::e2e
