// The running HTTP session threads. The listener starts each session through Start, which
// counts it before it can run, so a session is always listed until it ends; shut-down waits
// here until every session has gone. At most kMaxThreads threads run sessions: a session
// started beyond that waits in line, it is not refused. A thread whose session ended takes
// the next in line, or waits for one, up to kMaxIdleThreads of them, so a busy proxy does
// not pay for a new thread per connection. Thread-safe; the destructor ends the waiting
// threads.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <vector>

namespace tenvar::service {

class SessionThreads {
 public:
  // Threads kept waiting for a session once theirs has ended; more than this end at once.
  static constexpr std::size_t kMaxIdleThreads = 64;
  // Sessions run at once. A session mostly waits on its browser and its server, so this is
  // sized to the connections a small office keeps busy, not to the cores.
  static constexpr std::size_t kMaxThreads = 512;

  explicit SessionThreads(std::size_t maxThreads = kMaxThreads) : maxThreads_(maxThreads) {}
  SessionThreads(const SessionThreads&) = delete;
  SessionThreads& operator=(const SessionThreads&) = delete;
  ~SessionThreads();  // ends the waiting threads; sessions must have ended (WaitUntilEmpty)

  // Runs `session` on a waiting thread, on a new one, or once a thread is free; false when
  // no thread could be started and none is running to take it later.
  bool Start(std::function<void()> session);

  // Blocks until no session is left.
  void WaitUntilEmpty();
  std::size_t Count() const;  // sessions started and not ended, those in line included

 private:
  // A thread waiting for its next session; it lives on that thread's stack. Its own lock
  // and condition keep the hand-over between the starter and this one thread.
  struct Waiting {
    std::mutex Lock;
    std::condition_variable Ready;
    std::function<void()> Session;  // guarded by Lock; set by Start
    bool Stop = false;              // guarded by Lock; set by the destructor
  };

  // Gives a waiting thread its next session, or with none tells it to end.
  static void Hand(Waiting& waiting, std::function<void()> session);
  void Work(std::function<void()> session);

  const std::size_t maxThreads_;

  // SessionThreadLock guards everything below. ended_ is signalled when running_ drops to
  // zero, threadsGone_ when threads_ does. A session is handed to a waiting thread under
  // that thread's own lock, so waking it never contends for this one.
  mutable std::mutex SessionThreadLock;
  std::condition_variable ended_;
  std::condition_variable threadsGone_;
  std::vector<Waiting*> waiting_;  // the most recently idle thread last: it is woken first
  std::deque<std::function<void()>> inLine_;  // sessions started while every thread was busy
  std::size_t running_ = 0;  // sessions started and not yet ended
  std::size_t threads_ = 0;  // threads alive
  bool stopping_ = false;
};

}  // namespace tenvar::service
