// The program's diagnostic channel: time-stamped lines appended to the log file and, while
// the console is on, echoed to standard output. Any thread may log; LogLock serialises every
// line (and the request logs, which share it) so that lines never interleave.
#pragma once

#include <atomic>
#include <ctime>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>

namespace tenvar::service {

class EventLog {
 public:
  // logFilePath is asked for the current path at every line, so a re-read of the
  // configuration that moves the log takes effect at once.
  explicit EventLog(std::function<std::string()> logFilePath);

  // Appends one line "dd/mm/yyyy @ hh:mm:ss - <message>". Never fails towards the caller:
  // a file that cannot be opened in five immediate attempts just misses the line.
  void LogEvent(std::string_view message);

  void SetConsoleOpen(bool open) { consoleOpen_ = open; }
  bool ConsoleOpen() const { return consoleOpen_; }
  // Also hands every line to `observer` (a window that shows the log), under LogLock so the
  // window sees lines in file order. Set before other threads log.
  void SetLineObserver(std::function<void(std::string_view)> observer) {
    lineObserver_ = std::move(observer);
  }

  // Held while a line is written to the event log or to a CSV request log.
  std::mutex LogLock;

 private:
  std::function<std::string()> logFilePath_;
  std::atomic<bool> consoleOpen_{false};
  std::function<void(std::string_view)> lineObserver_;
};

// The text put in front of every line for the given time: "%d/%m/%Y @ %H:%M:%S - ".
std::string LogTimePrefix(std::time_t when);

}  // namespace tenvar::service
