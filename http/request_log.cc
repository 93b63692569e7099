#include "http/request_log.h"

#include "platform/append_file.h"

namespace tenvar::http {
namespace {

constexpr std::string_view kUnknown = "Unknown";

// The value in double quotes, any quote inside it doubled.
void AppendQuoted(std::string& line, std::string_view value) {
  line.push_back('"');
  for (char c : value) {
    if (c == '"') line.push_back('"');
    line.push_back(c);
  }
  line.push_back('"');
}

std::string_view OrUnknown(std::string_view value) { return value.empty() ? kUnknown : value; }

std::string LocalTime(std::time_t now, const char* format) {
  std::tm local{};
  if (::localtime_r(&now, &local) == nullptr) return std::string();
  char text[32];
  const std::size_t length = std::strftime(text, sizeof text, format, &local);
  return std::string(text, length);
}

}  // namespace

std::string RequestLogLine(std::time_t now, std::string_view keyword,
                           const std::optional<LanClientNames>& client,
                           std::string_view clientAddress, std::string_view url) {
  const std::string date = LocalTime(now, "%d/%m/%Y");
  const std::string timeOfDay = LocalTime(now, "%H:%M:%S");
  const std::string_view columns[] = {
      keyword,
      date,
      timeOfDay,
      client ? OrUnknown(client->MachineName) : kUnknown,
      client && !client->IpAddress.empty() ? std::string_view(client->IpAddress) : clientAddress,
      client ? OrUnknown(client->UserName) : kUnknown,
      url,
  };
  std::string line;
  for (std::string_view column : columns) {
    if (!line.empty()) line.push_back(',');
    AppendQuoted(line, column);
  }
  line.push_back('\n');
  return line;
}

void WriteRequestLog(const std::string& path, std::mutex& logLock, std::string_view line) {
  if (path.empty()) return;
  std::lock_guard lock(logLock);
  platform::AppendLockedLine(path, line);
}

}  // namespace tenvar::http
