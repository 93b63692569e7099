#include "tests/e2e/peer_program.h"

#include <poll.h>
#include <sys/inotify.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>

#include "platform/unique_fd.h"

namespace tenvar::e2e {

std::string FindProgram(const std::string& name) {
  const char* path = std::getenv("PATH");
  std::string directories = path != nullptr ? path : "";
  directories += ":/usr/local/sbin:/usr/sbin:/sbin";
  std::string_view rest = directories;
  while (!rest.empty()) {
    const size_t colon = rest.find(':');
    const std::string_view directory = rest.substr(0, colon);
    rest = colon == std::string_view::npos ? std::string_view() : rest.substr(colon + 1);
    if (directory.empty()) continue;
    const std::string candidate = std::string(directory) + "/" + name;
    if (::access(candidate.c_str(), X_OK) == 0) return candidate;
  }
  return "";
}

bool WaitForFileText(const std::string& path, std::string_view text,
                     std::chrono::milliseconds timeout, pid_t writer) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  const auto holds = [&] { return platform::ReadFileText(path).find(text) != std::string::npos; };
  platform::UniqueFd watch(::inotify_init1(IN_CLOEXEC | IN_NONBLOCK));
  // The directory is watched, not the file: the file may not exist yet.
  const std::string directory = std::filesystem::path(path).parent_path().string();
  if (!watch.Valid() ||
      ::inotify_add_watch(watch.Get(), directory.c_str(),
                          IN_CREATE | IN_MODIFY | IN_CLOSE_WRITE | IN_MOVED_TO) < 0) {
    return false;
  }
  platform::UniqueFd writerEnded(writer > 0 ? static_cast<int>(::syscall(SYS_pidfd_open, writer, 0))
                                            : -1);
  // The watch is in place before each look, so no write can slip between look and wait.
  while (!holds()) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    pollfd entries[2] = {{watch.Get(), POLLIN, 0}, {writerEnded.Get(), POLLIN, 0}};
    const int ready = ::poll(entries, writerEnded.Valid() ? 2 : 1, static_cast<int>(left.count()));
    if (ready < 0 && errno != EINTR) return false;
    if (ready > 0 && (entries[1].revents & POLLIN) != 0) return holds();
    char events[4096];
    while (::read(watch.Get(), events, sizeof events) > 0) {
    }
  }
  return true;
}

std::string Fill(std::string text, const std::vector<std::pair<std::string, std::string>>& values) {
  for (const auto& [name, value] : values) {
    const std::string placeholder = "@" + name + "@";
    for (size_t at = text.find(placeholder); at != std::string::npos;
         at = text.find(placeholder, at + value.size())) {
      text.replace(at, placeholder.size(), value);
    }
  }
  return text;
}

void PeerProgram::Start(std::vector<std::string> argv, const std::string& output,
                        const std::string& readyFile, std::string_view readyText,
                        std::chrono::milliseconds timeout) {
  const std::string name = argv[0];
  argv[0] = FindProgram(name);
  platform::ChildOptions options;
  options.StdoutPath = output + ".stdout";
  options.StderrPath = output + ".stderr";
  std::optional<platform::ChildProcess> child =
      argv[0].empty() ? std::nullopt : platform::ChildProcess::Start(argv, options);
  if (!child) {
    error_ = name + " could not be started";
    return;
  }
  if (!WaitForFileText(readyFile, readyText, timeout, child->Pid())) {
    const std::optional<int> status = child->WaitFor(0ms);
    error_ = name +
             (status ? " ended with status " + std::to_string(*status)
                     : " did not show \"" + std::string(readyText) + "\" in " + readyFile) +
             "; standard error: " + platform::ReadFileText(options.StderrPath) +
             " ready file: " + platform::ReadFileText(readyFile);
    return;
  }
  child_.emplace(std::move(*child));
}

}  // namespace tenvar::e2e
