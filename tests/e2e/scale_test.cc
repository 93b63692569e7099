// Many connections on a small machine: browsers that have not sent their request yet cost
// no thread, and running out of descriptors neither spins nor stops the proxy.
#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <vector>

#include "tests/e2e/office_fixture.h"
#include "tests/support/loopback.h"

namespace tenvar::e2e {
namespace {

using namespace tenvar::test;

class Scale : public OfficeTest {
 protected:
  void SetUp() override {
    OfficeTest::SetUp();
    // The test holds thousands of connections itself.
    rlimit limit{};
    ::getrlimit(RLIMIT_NOFILE, &limit);
    limit.rlim_cur = limit.rlim_max;
    ::setrlimit(RLIMIT_NOFILE, &limit);
  }

  pid_t TenvarPid() { return tenvar_->Child().Pid(); }

  // Connections to the proxy that send nothing; as many as could be opened.
  static std::vector<platform::UniqueFd> OpenIdle(int count) {
    std::vector<platform::UniqueFd> idle;
    for (int i = 0; i < count; ++i) {
      platform::UniqueFd fd = ConnectTo(kProxyPort);
      if (!fd.Valid()) break;
      idle.push_back(std::move(fd));
    }
    return idle;
  }
};

int ThreadCount(pid_t pid) {
  int threads = 0;
  DIR* tasks = ::opendir(("/proc/" + std::to_string(pid) + "/task").c_str());
  if (tasks == nullptr) return -1;
  while (const dirent* entry = ::readdir(tasks)) threads += entry->d_name[0] != '.';
  ::closedir(tasks);
  return threads;
}

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

TEST_F(Scale, IdleBrowsersHoldNoThreadAndHoldUpNoRequest) {
  ASSERT_NO_FATAL_FAILURE(StartTenvar());
  const std::vector<platform::UniqueFd> idle = OpenIdle(2000);
  ASSERT_EQ(idle.size(), 2000u);
  const CurlResult page = Fetch({OriginServer::Url("/small.txt")});
  EXPECT_EQ(page.Status, 200) << page.Stderr;
  EXPECT_EQ(page.Body, origin_->Content("small.txt"));
  // The long-lived service threads and a session or two, not one per connection.
  EXPECT_LT(ThreadCount(TenvarPid()), 40);
}

TEST_F(Scale, RunningOutOfDescriptorsNeitherSpinsNorStopsTheProxy) {
  ASSERT_NO_FATAL_FAILURE(StartTenvar());
  // Tenvar raised its own limit at start-up; from outside it is set low again.
  const rlimit small{64, 64};
  if (::prlimit(TenvarPid(), RLIMIT_NOFILE, &small, nullptr) != 0) {
    GTEST_SKIP() << "cannot lower another process's descriptor limit here";
  }
  std::vector<platform::UniqueFd> idle = OpenIdle(200);  // more than it can take
  ASSERT_TRUE(tenvar_->WaitForConsole("Out of descriptors")) << tenvar_->ConsoleSoFar();
  const auto before = CpuTime(TenvarPid());
  const auto start = std::chrono::steady_clock::now();
  std::this_thread::sleep_for(1s);  // a span to measure over, not a wait for anything
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_LT((CpuTime(TenvarPid()) - before).count() / seconds, 0.1);

  idle.clear();
  const CurlResult page = Fetch({OriginServer::Url("/small.txt")});
  EXPECT_EQ(page.Status, 200) << page.Stderr;
  ASSERT_TRUE(tenvar_->Stop());
  const std::string& console = tenvar_->ConsoleSoFar();
  EXPECT_EQ(console.find("Listener stopped"), std::string::npos);
  // One line for the whole episode, not one per retry.
  const std::size_t first = console.find("Out of descriptors");
  EXPECT_EQ(console.find("Out of descriptors", first + 1), std::string::npos) << console;
}

}  // namespace
}  // namespace tenvar::e2e
