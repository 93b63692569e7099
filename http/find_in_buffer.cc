#include "http/find_in_buffer.h"

namespace tenvar::http {

std::optional<std::size_t> FindInBuffer(std::string_view buffer, std::string_view text) {
  const std::size_t at = buffer.find(text);
  if (at == std::string_view::npos) return std::nullopt;
  return at;
}

}  // namespace tenvar::http
