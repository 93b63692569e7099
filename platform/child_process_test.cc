#include "platform/child_process.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>

namespace tenvar::platform {
namespace {

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
  EXPECT_EQ(child->WaitFor(std::chrono::seconds(15)), 3);
  // The child has ended: everything it wrote waits in the pipe.
  char text[64];
  const ssize_t got = ::read(child->OutputFd(), text, sizeof text);
  EXPECT_EQ(std::string(text, static_cast<size_t>(std::max<ssize_t>(got, 0))), "new b\nerr\n");
}

}  // namespace
}  // namespace tenvar::platform
