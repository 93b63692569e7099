// Many connections on a small machine: browsers that have not sent their request yet cost
// no thread, and running out of descriptors neither spins nor stops the proxy.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

#include "tests/e2e/office_fixture.h"
#include "tests/support/loopback.h"

namespace tenvar::e2e {
namespace {

using namespace tenvar::test;

// User and system time the process has used so far.
std::chrono::duration<double> CpuTime(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
  // Fields after the command name, which is in parentheses and may hold spaces.
  std::istringstream fields(text.substr(text.rfind(')') + 2));
  std::string field;
  for (int i = 3; i < 14; ++i) fields >> field;
  long long user = 0, system = 0;
  fields >> user >> system;
  return std::chrono::duration<double>(static_cast<double>(user + system) /
                                       static_cast<double>(::sysconf(_SC_CLK_TCK)));
}

using Scale = OfficeTest;

TEST_F(Scale, IdleBrowsersHoldNoThreadAndRunningOutOfDescriptorsNeitherSpinsNorStopsTheProxy) {
  // The test holds thousands of connections itself.
  rlimit limit{};
  ::getrlimit(RLIMIT_NOFILE, &limit);
  limit.rlim_cur = limit.rlim_max;
  ::setrlimit(RLIMIT_NOFILE, &limit);
  ASSERT_NO_FATAL_FAILURE(StartTenvar());
  const pid_t pid = tenvar_->Child().Pid();
  std::vector<platform::UniqueFd> idle;
  for (int i = 0; i < 2000; ++i) idle.push_back(ConnectTo(kProxyPort));
  ASSERT_TRUE(std::all_of(idle.begin(), idle.end(), [](const auto& fd) { return fd.Valid(); }));
  const CurlResult page = Fetch({OriginServer::Url("/small.txt")});
  EXPECT_EQ(page.Status, 200) << page.Stderr;
  EXPECT_EQ(page.Body, origin_->Content("small.txt"));
  // The long-lived service threads and a session or two, not one per connection.
  const std::filesystem::directory_iterator tasks("/proc/" + std::to_string(pid) + "/task");
  EXPECT_LT(std::distance(begin(tasks), end(tasks)), 40);

  // Tenvar raised its own limit at start-up; from outside it is set below what it holds.
  const rlimit small{64, 64};
  ASSERT_EQ(::prlimit(pid, RLIMIT_NOFILE, &small, nullptr), 0);
  for (int i = 0; i < 10; ++i) idle.push_back(ConnectTo(kProxyPort));
  ASSERT_TRUE(tenvar_->WaitForConsole("Out of descriptors")) << tenvar_->ConsoleSoFar();
  const auto before = CpuTime(pid);
  const auto start = std::chrono::steady_clock::now();
  std::this_thread::sleep_for(1s);  // a span to measure over, not a wait for anything
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_LT((CpuTime(pid) - before).count() / seconds, 0.1);

  idle.clear();
  const CurlResult after = Fetch({OriginServer::Url("/small.txt")});
  EXPECT_EQ(after.Status, 200) << after.Stderr;
  ASSERT_TRUE(tenvar_->Stop());
  const std::string console = tenvar_->ConsoleSoFar();
  EXPECT_EQ(console.find("Listener stopped"), std::string::npos);
  // One line for the whole episode, not one per retry.
  const std::size_t first = console.find("Out of descriptors");
  EXPECT_EQ(console.find("Out of descriptors", first + 1), std::string::npos) << console;
}

}  // namespace
}  // namespace tenvar::e2e
