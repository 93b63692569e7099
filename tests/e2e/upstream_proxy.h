// squid as the upstream proxy on 127.0.0.1:3128, without a cache, writing its logs into the
// test's directory. Its Log() is the access log: one line per request with its method and
// absolute URL.
#pragma once

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <string>
#include <string_view>

#include "tests/e2e/peer_program.h"

namespace tenvar::e2e {

// squid refuses to run as root, so as root it switches to this user, which then needs
// its own directory it can write and a way through the test's private one.
inline constexpr const char* kSquidUser = "nobody";

inline constexpr const char* kSquidConfiguration = R"(http_port 127.0.0.1:@PORT@
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

class UpstreamProxy : public PeerProgram {
 public:
  static constexpr int kPort = 3128;
  // What squid adds to the Via header of every request it forwards.
  static constexpr std::string_view kVia = "1.1 tenvar-upstream (squid";

  explicit UpstreamProxy(const platform::TempDir& dir) : PeerProgram(dir.File("squid/access.log")) {
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
  // Ends squid and removes the shared-memory segments it made.
  ~UpstreamProxy() {
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
  UpstreamProxy(const UpstreamProxy&) = delete;
  UpstreamProxy& operator=(const UpstreamProxy&) = delete;

 private:
  std::string serviceName_;
};

}  // namespace tenvar::e2e
