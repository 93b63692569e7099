// A web server that answers every request with the same bytes, whatever they promise, and
// closes: for answers nginx will not give, or none at all. The first answer may be held open
// until Release(). Serves on its own thread; Requests() may be read from any.
#pragma once

#include <atomic>
#include <string>
#include <string_view>
#include <thread>

#include "platform/exit_event.h"
#include "platform/socket.h"
#include "tests/support/loopback.h"

namespace tenvar::e2e {

class ScriptedOrigin {
 public:
  explicit ScriptedOrigin(std::string answer, bool holdFirst = false)
      : answer_(std::move(answer)), holding_(holdFirst) {
    thread_ = std::jthread([this] { Serve(); });
  }
  ~ScriptedOrigin() { stop_.Signal(); }

  std::string Url(std::string_view path) const {
    return "http://127.0.0.1:" + std::to_string(platform::LocalPort(listener_.Get())) +
           std::string(path);
  }
  int Requests() const { return requests_; }
  void Release() { release_.Signal(); }

 private:
  void Serve() {
    while (!stop_.IsSignalled()) {
      test::Peer browser(test::AcceptWithin(listener_.Get(), test::kPatience, stop_.Fd()),
                         stop_.Fd());
      if (!browser.Valid()) continue;
      for (std::string line = browser.Line(); !line.empty() && line != "\r\n";
           line = browser.Line()) {
      }
      ++requests_;
      browser.Send(answer_);
      // Held until released: the answer is neither complete nor ended.
      if (holding_.exchange(false))
        test::WaitReadable(release_.Fd(), std::chrono::minutes(2), stop_.Fd());
    }
  }

  std::string answer_;
  std::atomic<bool> holding_;
  std::atomic<int> requests_{0};
  platform::UniqueFd listener_ = test::ListenOnLoopback();
  platform::ExitEvent stop_;
  platform::ExitEvent release_;
  std::jthread thread_;  // last, so that it ends before what it uses
};

}  // namespace tenvar::e2e
