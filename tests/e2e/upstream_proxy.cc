#include "tests/e2e/upstream_proxy.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>

#include "tests/e2e/file_watch.h"
#include "tests/e2e/peer_program.h"

namespace tenvar::e2e {
namespace {

using namespace std::chrono_literals;

// squid refuses to run as root, so as root it switches to this user, which then needs
// its own directory it can write and a way through the test's private one.
constexpr const char* kSquidUser = "nobody";

std::string SquidConfiguration(const std::string& base, const std::string& accessLog) {
  return "http_port 127.0.0.1:" + std::to_string(UpstreamProxy::kPort) + "\n"
         "http_access allow all\n"
         "cache deny all\n"
         "cache_mem 8 MB\n"
         "visible_hostname tenvar-upstream\n"
         "cache_effective_user " + std::string(kSquidUser) + "\n"
         "pid_filename " + base + "/squid.pid\n"
         "cache_log " + base + "/cache.log\n"
         "access_log stdio:" + accessLog + "\n"
         "cache_store_log none\n"
         "coredump_dir " + base + "\n"
         "netdb_filename none\n"
         "pinger_enable off\n"
         // Names are never looked up in these tests; should one be, it stays on loopback.
         "dns_nameservers 127.0.0.1\n"
         "shutdown_lifetime 0 seconds\n"
         // The tests look for whole URLs in the access log.
         "strip_query_terms off\n";
}

}  // namespace

UpstreamProxy::UpstreamProxy(const platform::TempDir& dir)
    : accessLog_(dir.File("squid/access.log")) {
  // squid names its shared-memory segments after the service, and /dev/shm is shared by
  // every test's namespace: each instance gets a name of its own.
  static std::atomic<int> instances{0};
  serviceName_ = "tenvar" + std::to_string(::getpid()) + "n" + std::to_string(instances++);

  const std::string base = dir.File("squid");
  const std::string configuration =
      dir.Write("squid/squid.conf", SquidConfiguration(base, accessLog_));
  if (::geteuid() == 0) {
    const passwd* user = ::getpwnam(kSquidUser);
    if (user == nullptr) {
      error_ = std::string("there is no user ") + kSquidUser + " for squid to run as";
      return;
    }
    if (::chmod(dir.Path().c_str(), 0711) != 0 ||
        ::chown(base.c_str(), user->pw_uid, user->pw_gid) != 0) {
      error_ = "cannot hand " + base + " to " + kSquidUser;
      return;
    }
  }
  platform::ChildOptions options;
  options.StdoutPath = dir.File("squid.stdout");
  options.StderrPath = dir.File("squid.stderr");
  if (!StartPeer({"squid", "-n", serviceName_, "-N", "-f", configuration}, options,
                 base + "/cache.log", "Accepting HTTP Socket connections", 15s, child_, error_)) {
    error_ += " cache log: " + platform::ReadFileText(base + "/cache.log");
  }
}

UpstreamProxy::~UpstreamProxy() {
  // A squid asked to stop takes two seconds over it even with no shutdown_lifetime; killed,
  // it leaves only its shared-memory segments, which go here.
  child_.reset();
  std::error_code ignored;
  for (const auto& entry : std::filesystem::directory_iterator("/dev/shm", ignored)) {
    if (entry.path().filename().string().starts_with(serviceName_ + "-")) {
      std::filesystem::remove(entry.path(), ignored);
    }
  }
}

std::string UpstreamProxy::AccessLog() const { return platform::ReadFileText(accessLog_); }

bool UpstreamProxy::WaitForAccessLog(std::string_view text,
                                     std::chrono::milliseconds timeout) const {
  return WaitForFileText(accessLog_, text, timeout, child_ ? child_->Pid() : 0);
}

}  // namespace tenvar::e2e
