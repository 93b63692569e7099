#include "tests/e2e/peer_program.h"

#include <unistd.h>

#include <cstdlib>
#include <string_view>

#include "platform/temp_dir.h"
#include "tests/e2e/file_watch.h"

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

bool StartPeer(std::vector<std::string> argv, const platform::ChildOptions& options,
               const std::string& readyFile, const std::string& readyText,
               std::chrono::milliseconds timeout, std::optional<platform::ChildProcess>& peer,
               std::string& error) {
  if (argv.empty()) {
    error = "no program given";
    return false;
  }
  const std::string name = argv[0];
  argv[0] = FindProgram(name);
  if (argv[0].empty()) {
    error = name + " is not installed";
    return false;
  }
  std::optional<platform::ChildProcess> child = platform::ChildProcess::Start(argv, options);
  if (!child) {
    error = name + " could not be started";
    return false;
  }
  if (!WaitForFileText(readyFile, readyText, timeout, child->Pid())) {
    const std::optional<int> status = child->WaitFor(std::chrono::milliseconds(0));
    error = name +
            (status ? " ended with status " + std::to_string(*status)
                    : " did not show \"" + readyText + "\" in " + readyFile) +
            "; standard error: " + platform::ReadFileText(options.StderrPath) +
            " ready file: " + platform::ReadFileText(readyFile);
    return false;
  }
  peer.emplace(std::move(*child));
  return true;
}

}  // namespace tenvar::e2e
