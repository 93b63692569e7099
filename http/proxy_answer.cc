#include "http/proxy_answer.h"

#include "platform/send.h"

namespace tenvar::http {

std::string ProxyAnswer(std::string_view status, std::string_view body) {
  std::string answer = "HTTP/1.0 ";
  answer.append(status)
      .append("\r\nContent-Type: text/plain\r\nContent-Length: ")
      .append(std::to_string(body.size()))
      .append("\r\nConnection: close\r\n\r\n")
      .append(body);
  return answer;
}

int SendProxyAnswer(int socket, std::string_view status, std::string_view body,
                    const platform::ExitEvent& exitEvent, std::chrono::milliseconds stallLimit) {
  return platform::SendWithin(socket, ProxyAnswer(status, body), exitEvent, stallLimit) ? 0 : -1;
}

}  // namespace tenvar::http
