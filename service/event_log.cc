#include "service/event_log.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

#include "platform/unique_fd.h"

namespace tenvar::service {
namespace {

constexpr int kOpenAttempts = 5;

bool WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t written = ::write(fd, bytes.data(), bytes.size());
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    bytes.remove_prefix(static_cast<size_t>(written));
  }
  return true;
}

}  // namespace

EventLog::EventLog(std::function<std::string()> logFilePath)
    : logFilePath_(std::move(logFilePath)) {}

std::string LogTimePrefix(std::time_t when) {
  std::tm local{};
  ::localtime_r(&when, &local);
  char text[64];
  const size_t length = std::strftime(text, sizeof text, "%d/%m/%Y @ %H:%M:%S - ", &local);
  return std::string(text, length);
}

bool AppendLocked(const std::string& path, std::string_view line) {
  if (path.empty()) return false;
  for (int attempt = 0; attempt < kOpenAttempts; ++attempt) {
    platform::UniqueFd file(::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644));
    if (!file.Valid()) continue;
    // Another program holding the file exclusively counts as a failed open.
    if (::flock(file.Get(), LOCK_EX | LOCK_NB) != 0) continue;
    return WriteAll(file.Get(), line);
  }
  return false;
}

void EventLog::LogEvent(std::string_view message) {
  const std::time_t now = std::time(nullptr);
  const std::string path = logFilePath_ ? logFilePath_() : std::string();
  std::lock_guard lock(LogLock);
  std::string line = LogTimePrefix(now);
  line.append(message).append("\n");
  AppendLocked(path, line);
  if (consoleOpen_) WriteAll(STDOUT_FILENO, line);
}

}  // namespace tenvar::service
