// Remote Access through pppd, the only code that knows about it: the phonebook is pppd's
// peers folder, a dial is "pppd call <entry> nodetach" whose output lines are the progress,
// the connection is up from its "local  IP address" line until it ends, and hanging up
// terminates it. Thread-safe; one dial at a time, each followed by a thread of its own.
#pragma once

#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "dialup/remote_access.h"

namespace tenvar::dialup {

struct PppOptions {
  // The pppd program. Empty: the one named by TENVAR_PPPD, else pppd from PATH, /usr/sbin or
  // /sbin; looked up again at every operation, as the program may come and go.
  std::string Program;
  // Where the kernel lists the network interfaces.
  std::string NetClassDirectory = "/sys/class/net";
  // "NAME=value" entries added to pppd's environment.
  std::vector<std::string> Environment;
  // How long pppd may take to close the link after SIGTERM before it is killed.
  std::chrono::milliseconds HangUpGrace{10000};
};

// The pppd program that would be run, or empty when there is none.
std::string FindPppdProgram(const std::string& configured = {});

class PppRemoteAccess : public RemoteAccess {
 public:
  explicit PppRemoteAccess(PppOptions options = {});
  PppRemoteAccess(const PppRemoteAccess&) = delete;
  PppRemoteAccess& operator=(const PppRemoteAccess&) = delete;
  // Hangs up a dial still running and waits (at most HangUpGrace and a kill) for it to end.
  ~PppRemoteAccess() override;

  bool Available() const override;
  std::vector<std::string> PhonebookEntries() const override;
  bool HasConnection() override;
  int Dial(const DialRequest& request, DialProgressCallback progress) override;
  void HangUp() override;

 private:
  struct Call;

  const PppOptions options_;
  std::mutex lock_;  // guards call_; never held while a notification is delivered
  std::unique_ptr<Call> call_;
};

}  // namespace tenvar::dialup
