// The running HTTP session threads. The listener starts each session through Start, which
// lists the thread before it can run, so a session can always find and remove its own entry
// when it ends; shut-down waits here until every session has gone.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <set>

namespace tenvar::service {

class SessionThreads {
 public:
  // Runs `session` on a new thread; false when no thread could be started.
  bool Start(std::function<void()> session);

  // Blocks until no session thread is left.
  void WaitUntilEmpty();
  std::size_t Count() const;

 private:
  void EndSession(std::uint64_t id);

  // SessionThreadLock guards running_ and nextId_; ended_ is signalled when running_ empties.
  mutable std::mutex SessionThreadLock;
  std::condition_variable ended_;
  std::set<std::uint64_t> running_;
  std::uint64_t nextId_ = 0;
};

}  // namespace tenvar::service
