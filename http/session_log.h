// The event-log lines of one HTTP session, gated by its instance's switches: activity lines
// need EnableLogging, diagnostic lines need EnableLogging and Debug.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

#include "http/http_session.h"
#include "http/session_context.h"

namespace tenvar::http {

inline void LogActivity(const SessionContext& context, const HttpSession& session,
                        std::string_view line) {
  if (session.Options->EnableLogging) context.LogEvent(line);
}

inline void LogDebug(const SessionContext& context, const HttpSession& session,
                     std::string_view line) {
  if (session.Options->EnableLogging && session.Options->Debug) context.LogEvent(line);
}

// Formats with printf conventions into a std::string.
template <class... Args>
std::string Format(const char* pattern, Args... args) {
  const int length = std::snprintf(nullptr, 0, pattern, args...);
  std::string text(static_cast<size_t>(length > 0 ? length : 0), '\0');
  std::snprintf(text.data(), text.size() + 1, pattern, args...);
  return text;
}

// A diagnostic line formatted with printf conventions, and only when it is written: most
// sessions run without Debug and should not pay for the text.
template <class... Args>
  requires(sizeof...(Args) > 0)
void LogDebug(const SessionContext& context, const HttpSession& session, const char* pattern,
              Args... args) {
  if (session.Options->EnableLogging && session.Options->Debug) {
    context.LogEvent(Format(pattern, args...));
  }
}

// A diagnostic line that depends on Debug alone.
inline void LogDebugAlone(const SessionContext& context, const HttpSession& session,
                          std::string_view line) {
  if (session.Options->Debug) context.LogEvent(line);
}

}  // namespace tenvar::http
