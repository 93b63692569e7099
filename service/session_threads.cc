#include "service/session_threads.h"

#include <system_error>
#include <thread>

namespace tenvar::service {

bool SessionThreads::Start(std::function<void()> session) {
  // Held across the thread's creation: the new thread cannot end its session before it is
  // listed, since EndSession needs this lock too.
  std::lock_guard lock(SessionThreadLock);
  const std::uint64_t id = nextId_++;
  try {
    std::thread([this, id, session = std::move(session)] {
      session();
      EndSession(id);
    }).detach();
  } catch (const std::system_error&) {
    return false;
  }
  running_.insert(id);
  return true;
}

void SessionThreads::EndSession(std::uint64_t id) {
  std::lock_guard lock(SessionThreadLock);
  running_.erase(id);
  if (running_.empty()) ended_.notify_all();
}

void SessionThreads::WaitUntilEmpty() {
  std::unique_lock lock(SessionThreadLock);
  ended_.wait(lock, [this] { return running_.empty(); });
}

std::size_t SessionThreads::Count() const {
  std::lock_guard lock(SessionThreadLock);
  return running_.size();
}

}  // namespace tenvar::service
