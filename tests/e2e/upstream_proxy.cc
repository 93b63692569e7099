#include "tests/e2e/upstream_proxy.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>

namespace tenvar::e2e {
namespace {

// squid refuses to run as root, so as root it switches to this user, which then needs
// its own directory it can write and a way through the test's private one.
constexpr const char* kSquidUser = "nobody";

constexpr const char* kSquidConfiguration = R"(http_port 127.0.0.1:@PORT@
http_access allow all
cache deny all
cache_mem 8 MB
visible_hostname tenvar-upstream
cache_effective_user @USER@
pid_filename @BASE@/squid.pid
cache_log @BASE@/cache.log
access_log stdio:@BASE@/access.log
cache_store_log none
coredump_dir @BASE@
netdb_filename none
pinger_enable off
# Names are never looked up in these tests; should one be, it stays on loopback.
dns_nameservers 127.0.0.1
shutdown_lifetime 0 seconds
# The tests look for whole URLs in the access log.
strip_query_terms off
)";

}  // namespace

UpstreamProxy::UpstreamProxy(const platform::TempDir& dir)
    : PeerProgram(dir.File("squid/access.log")) {
  // squid names its shared-memory segments after the service, and /dev/shm is shared by
  // every test's namespace: each instance gets a name of its own.
  static std::atomic<int> instances{0};
  serviceName_ = "tenvar" + std::to_string(::getpid()) + "n" + std::to_string(instances++);
  const std::string base = dir.File("squid");
  const std::string configuration =
      dir.Write("squid/squid.conf",
                Fill(kSquidConfiguration,
                     {{"PORT", std::to_string(kPort)}, {"USER", kSquidUser}, {"BASE", base}}));
  if (::geteuid() == 0) {
    const passwd* user = ::getpwnam(kSquidUser);
    if (user == nullptr || ::chmod(dir.Path().c_str(), 0711) != 0 ||
        ::chown(base.c_str(), user->pw_uid, user->pw_gid) != 0) {
      error_ = "cannot hand " + base + " to " + kSquidUser;
      return;
    }
  }
  Start({"squid", "-n", serviceName_, "-N", "-f", configuration}, dir.File("squid"),
        base + "/cache.log", "Accepting HTTP Socket connections", 15s);
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

}  // namespace tenvar::e2e
