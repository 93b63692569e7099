#include "platform/child_process.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
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

std::optional<ChildProcess> Shell(const std::string& script,
                                  const std::vector<std::string>& environment = {}) {
  int error = 0;
  std::optional<ChildProcess> child = ChildProcess::Start(
      {"/bin/sh", "-c", script}, {.PipeOutput = true, .Environment = environment}, error);
  EXPECT_EQ(error, 0);
  return child;
}

TEST(ChildProcess, OutputAndErrorComeThroughOnePipe) {
  std::optional<ChildProcess> child = Shell("echo out; echo err >&2");
  ASSERT_TRUE(child);
  EXPECT_EQ(ReadAll(*child), "out\nerr\n");
  ASSERT_TRUE(WaitForEnd(*child));
  EXPECT_EQ(child->Reap(), 0);
}

TEST(ChildProcess, EnvironmentEntriesAreAddedOrReplaceTheirNamesakes) {
  ::setenv("TENVAR_CHILD_A", "old", 1);
  std::optional<ChildProcess> child =
      Shell("echo \"$TENVAR_CHILD_A $TENVAR_CHILD_B\"", {"TENVAR_CHILD_A=new", "TENVAR_CHILD_B=b"});
  ::unsetenv("TENVAR_CHILD_A");
  ASSERT_TRUE(child);
  EXPECT_EQ(ReadAll(*child), "new b\n");
}

TEST(ChildProcess, ReportsTheExitStatusOrTheKillingSignal) {
  std::optional<ChildProcess> exited = Shell("exit 3");
  std::optional<ChildProcess> killed = Shell("exec sleep 100");
  ASSERT_TRUE(exited && killed);
  ASSERT_TRUE(WaitForEnd(*exited));
  EXPECT_EQ(exited->Reap(), 3);
  EXPECT_TRUE(killed->Signal(SIGTERM));
  ASSERT_TRUE(WaitForEnd(*killed));
  EXPECT_EQ(killed->Reap(), 128 + SIGTERM);
}

TEST(ChildProcess, AProgramThatDoesNotExistIsAnError) {
  int error = 0;
  EXPECT_FALSE(ChildProcess::Start({"/nonexistent/pppd"}, {}, error));
  EXPECT_EQ(error, ENOENT);
}

}  // namespace
}  // namespace tenvar::platform
