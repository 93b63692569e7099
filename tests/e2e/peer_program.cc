#include "tests/e2e/peer_program.h"

#include <poll.h>
#include <unistd.h>

#include <cstdlib>
#include <sstream>

namespace tenvar::e2e {

std::string FindProgram(const std::string& name) {
  const char* path = std::getenv("PATH");
  std::istringstream directories(std::string(path != nullptr ? path : "") +
                                 ":/usr/local/sbin:/usr/sbin:/sbin");
  for (std::string directory; std::getline(directories, directory, ':');) {
    const std::string candidate = directory + "/" + name;
    if (!directory.empty() && ::access(candidate.c_str(), X_OK) == 0) return candidate;
  }
  return "";
}

bool WaitForFileText(const std::string& path, std::string_view text,
                     std::chrono::milliseconds timeout, int writerEnded) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  const auto holds = [&] { return platform::ReadFileText(path).find(text) != std::string::npos; };
  // A look every 10 ms, each wait cut short once the writer has ended.
  for (pollfd ended{writerEnded, POLLIN, 0}; !holds();) {
    if (std::chrono::steady_clock::now() >= deadline || ::poll(&ended, 1, 10) > 0) return holds();
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
  if (!WaitForFileText(readyFile, readyText, timeout, child->EndFd())) {
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
