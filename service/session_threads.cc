#include "service/session_threads.h"

#include <system_error>
#include <thread>
#include <utility>

namespace tenvar::service {

void SessionThreads::Hand(Waiting& waiting, std::function<void()> session) {
  // Notified under its lock: once it is released the waiting thread may run the session,
  // end and take `waiting` with it.
  std::lock_guard lock(waiting.Lock);
  if (session) {
    waiting.Session = std::move(session);
  } else {
    waiting.Stop = true;
  }
  waiting.Ready.notify_one();
}

SessionThreads::~SessionThreads() {
  std::unique_lock lock(SessionThreadLock);
  stopping_ = true;
  for (Waiting* waiting : waiting_) Hand(*waiting, nullptr);
  waiting_.clear();
  threadsGone_.wait(lock, [this] { return threads_ == 0; });
}

bool SessionThreads::Start(std::function<void()> session) {
  Waiting* waiting = nullptr;
  {
    std::lock_guard lock(SessionThreadLock);
    // Counted before it can run: the session cannot end before it is listed.
    ++running_;
    if (!waiting_.empty()) {
      waiting = waiting_.back();
      waiting_.pop_back();
    } else if (threads_ >= maxThreads_) {
      inLine_.push_back(std::move(session));  // the next thread to finish takes it
      return true;
    } else {
      ++threads_;
    }
  }
  if (waiting != nullptr) {
    Hand(*waiting, std::move(session));
    return true;
  }
  // A thread is started outside the lock, so ending sessions need not wait for it. The
  // thread gets a copy, so the session is still here if the thread cannot be made.
  try {
    std::thread([this, session]() mutable { Work(std::move(session)); }).detach();
  } catch (const std::system_error&) {
    std::unique_lock lock(SessionThreadLock);
    --threads_;
    if (!waiting_.empty()) {  // one became free meanwhile
      waiting = waiting_.back();
      waiting_.pop_back();
      lock.unlock();
      Hand(*waiting, std::move(session));
      return true;
    }
    if (threads_ > 0) {
      inLine_.push_back(std::move(session));  // a running thread takes it when it is free
      return true;
    }
    if (--running_ == 0) ended_.notify_all();
    threadsGone_.notify_all();
    return false;
  }
  return true;
}

void SessionThreads::Work(std::function<void()> session) {
  Waiting waiting;
  for (;;) {
    session();
    // What the session holds (its sockets) goes before the session counts as ended.
    session = nullptr;
    {
      std::lock_guard lock(SessionThreadLock);
      if (--running_ == 0) ended_.notify_all();
      if (!inLine_.empty()) {
        session = std::move(inLine_.front());
        inLine_.pop_front();
        continue;
      }
      if (stopping_ || waiting_.size() >= kMaxIdleThreads) break;
      waiting_.push_back(&waiting);
    }
    std::unique_lock handOver(waiting.Lock);
    waiting.Ready.wait(handOver, [&waiting] { return waiting.Session || waiting.Stop; });
    if (!waiting.Session) break;
    session = std::move(waiting.Session);
    waiting.Session = nullptr;
  }
  std::lock_guard lock(SessionThreadLock);
  // Past this count the destructor may run: only the lock's release still touches us.
  if (--threads_ == 0) threadsGone_.notify_all();
}

void SessionThreads::WaitUntilEmpty() {
  std::unique_lock lock(SessionThreadLock);
  ended_.wait(lock, [this] { return running_ == 0; });
}

std::size_t SessionThreads::Count() const {
  std::lock_guard lock(SessionThreadLock);
  return running_;
}

}  // namespace tenvar::service
