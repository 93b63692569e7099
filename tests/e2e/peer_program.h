// The programs the end-to-end tests talk to (nginx, squid, vsftpd, openssl, curl, python3):
// finding them, starting one and waiting until it listens, and skipping a test whose program
// is missing.
#pragma once

#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/child_process.h"
#include "platform/temp_dir.h"

namespace tenvar::e2e {

using namespace std::chrono_literals;

// The full path of `name` from PATH or the sbin directories (daemons live there and a
// non-root PATH may lack them); empty when it is not installed.
inline std::string FindProgram(const std::string& name) {
  const char* path = std::getenv("PATH");
  std::istringstream directories(std::string(path != nullptr ? path : "") +
                                 ":/usr/local/sbin:/usr/sbin:/sbin");
  for (std::string directory; std::getline(directories, directory, ':');) {
    const std::string candidate = directory + "/" + name;
    if (!directory.empty() && ::access(candidate.c_str(), X_OK) == 0) return candidate;
  }
  return "";
}

// True once the file at `path` contains `text`; false after `timeout`, or when `writerEnded`
// (a child's end descriptor, -1 for none) shows that the writer ended without writing it.
inline bool WaitForFileText(const std::string& path, std::string_view text,
                            std::chrono::milliseconds timeout, int writerEnded = -1) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  const auto holds = [&] { return platform::ReadFileText(path).find(text) != std::string::npos; };
  // A look every 10 ms, each wait cut short once the writer has ended.
  for (pollfd ended{writerEnded, POLLIN, 0}; !holds();) {
    if (std::chrono::steady_clock::now() >= deadline || ::poll(&ended, 1, 10) > 0) return holds();
  }
  return true;
}

// `text` with every "@NAME@" of `values` replaced, so a peer's configuration reads as written.
inline std::string Fill(std::string text,
                        const std::vector<std::pair<std::string, std::string>>& values) {
  for (const auto& [name, value] : values) {
    const std::string placeholder = "@" + name + "@";
    for (size_t at = text.find(placeholder); at != std::string::npos;
         at = text.find(placeholder, at + value.size())) {
      text.replace(at, placeholder.size(), value);
    }
  }
  return text;
}

// How often `piece` occurs in `text`.
inline std::size_t Occurrences(std::string_view text, std::string_view piece) {
  std::size_t count = 0;
  for (std::size_t at = text.find(piece); at != std::string_view::npos;
       at = text.find(piece, at + 1)) {
    ++count;
  }
  return count;
}

// A peer started for one test and ended with the object. Not thread-safe, though its log
// may be read from any thread once it runs.
class PeerProgram {
 public:
  bool Running() const { return child_.has_value(); }
  const std::string& Error() const { return error_; }
  std::string Log() const { return platform::ReadFileText(logPath_); }
  const std::string& LogPath() const { return logPath_; }
  bool WaitForLog(std::string_view text, std::chrono::milliseconds timeout = 5s) const {
    return WaitForFileText(logPath_, text, timeout, child_ ? child_->EndFd() : -1);
  }

 protected:
  explicit PeerProgram(std::string logPath) : logPath_(std::move(logPath)) {}
  // Starts `argv` (argv[0] looked up with FindProgram) with its output in `output`.stdout
  // and .stderr, and waits until `readyFile` holds `readyText`, which the peer writes once
  // it listens. On failure Error() says why and the peer is gone.
  void Start(std::vector<std::string> argv, const std::string& output, const std::string& readyFile,
             std::string_view readyText, std::chrono::milliseconds timeout = 10s) {
    const std::string name = argv[0];
    argv[0] = FindProgram(name);
    const platform::ChildOptions options{output + ".stdout", output + ".stderr", false, {}};
    std::optional<platform::ChildProcess> child =
        argv[0].empty() ? std::nullopt : platform::ChildProcess::Start(argv, options);
    if (!child) {
      error_ = name + " could not be started";
    } else if (!WaitForFileText(readyFile, readyText, timeout, child->EndFd())) {
      const std::optional<int> status = child->WaitFor(0ms);
      error_ = name +
               (status ? " ended with status " + std::to_string(*status)
                       : " did not show \"" + std::string(readyText) + "\" in " + readyFile) +
               "; standard error: " + platform::ReadFileText(options.StderrPath) +
               " ready file: " + platform::ReadFileText(readyFile);
    } else {
      child_.emplace(std::move(*child));
    }
  }

  std::string logPath_;
  std::string error_;
  std::optional<platform::ChildProcess> child_;
};

}  // namespace tenvar::e2e

// Ends the current test as skipped when `program` is not installed.
#define TENVAR_REQUIRE_PROGRAM(program)                                                   \
  do {                                                                                    \
    if (::tenvar::e2e::FindProgram(program).empty()) {                                    \
      GTEST_SKIP() << (program) << " is not installed; scripts/install-deps installs it"; \
    }                                                                                     \
  } while (false)
