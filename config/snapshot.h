// A value that readers take whole and writers replace whole. Readers get a shared pointer
// to an immutable value, so a replacement can never be seen half done, and a value in use
// stays alive until its last reader lets go. The mutex guards only the pointer swap.
#pragma once

#include <memory>
#include <mutex>

namespace tenvar::config {

template <class T>
class Snapshot {
 public:
  Snapshot() : value_(std::make_shared<const T>()) {}
  explicit Snapshot(T value) : value_(std::make_shared<const T>(std::move(value))) {}

  std::shared_ptr<const T> Load() const {
    std::lock_guard lock(lock_);
    return value_;
  }

  void Store(T value) {
    std::shared_ptr<const T> replacement = std::make_shared<const T>(std::move(value));
    std::lock_guard lock(lock_);
    value_.swap(replacement);
    // The old value is freed after the lock is released, by whoever holds it last.
  }

 private:
  mutable std::mutex lock_;
  std::shared_ptr<const T> value_;
};

}  // namespace tenvar::config
