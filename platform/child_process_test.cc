#include "platform/child_process.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace tenvar::platform {
namespace {

constexpr int kPatienceMs = 15000;

// Everything the child writes until it closes its output; stops early after kPatienceMs.
std::string ReadAll(ChildProcess& child) {
  std::string text;
  while (child.OutputFd() >= 0) {
    pollfd entry{child.OutputFd(), POLLIN, 0};
    if (::poll(&entry, 1, kPatienceMs) <= 0) break;
    char block[256];
    const ssize_t got = ::read(child.OutputFd(), block, sizeof block);
    if (got < 0 && errno == EAGAIN) continue;
    if (got <= 0) break;
    text.append(block, static_cast<size_t>(got));
  }
  return text;
}

bool WaitForEnd(const ChildProcess& child) {
  pollfd entry{child.EndFd(), POLLIN, 0};
  return ::poll(&entry, 1, kPatienceMs) == 1;
}

// pppd reports its progress on both outputs, and the dialler reads them as one; the given
// environment entries replace inherited namesakes.
TEST(ChildProcess, OutputAndErrorComeThroughOnePipeAndTheExitStatusIsReported) {
  ::setenv("TENVAR_CHILD_A", "old", 1);
  int error = 0;
  std::optional<ChildProcess> child = ChildProcess::Start(
      {"/bin/sh", "-c", "echo \"$TENVAR_CHILD_A $TENVAR_CHILD_B\"; echo err >&2; exit 3"},
      {.PipeOutput = true, .Environment = {"TENVAR_CHILD_A=new", "TENVAR_CHILD_B=b"}}, error);
  ::unsetenv("TENVAR_CHILD_A");
  EXPECT_EQ(error, 0);
  ASSERT_TRUE(child);
  EXPECT_EQ(ReadAll(*child), "new b\nerr\n");
  ASSERT_TRUE(WaitForEnd(*child));
  EXPECT_EQ(child->Reap(), 3);
}

}  // namespace
}  // namespace tenvar::platform
