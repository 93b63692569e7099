#include "service/event_log.h"

#include <unistd.h>

#include "platform/append_file.h"
#include "platform/write_all.h"

namespace tenvar::service {

EventLog::EventLog(std::function<std::string()> logFilePath)
    : logFilePath_(std::move(logFilePath)) {}

std::string LogTimePrefix(std::time_t when) {
  std::tm local{};
  ::localtime_r(&when, &local);
  char text[64];
  const size_t length = std::strftime(text, sizeof text, "%d/%m/%Y @ %H:%M:%S - ", &local);
  return std::string(text, length);
}

void EventLog::LogEvent(std::string_view message) {
  const std::time_t now = std::time(nullptr);
  const std::string path = logFilePath_ ? logFilePath_() : std::string();
  // Made before the lock: other sessions wait only for the write.
  std::string line = LogTimePrefix(now);
  line.append(message).append("\n");
  std::lock_guard lock(LogLock);
  platform::AppendLockedLine(path, line);
  if (consoleOpen_) platform::WriteAll(STDOUT_FILENO, line);
  if (lineObserver_) lineObserver_(line);
}

}  // namespace tenvar::service
