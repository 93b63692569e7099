// Locating a byte sequence inside received data, which may hold NUL bytes and need not be
// text. Pure function; safe from any thread.
#pragma once

#include <cstddef>
#include <optional>
#include <string_view>

namespace tenvar::http {

// Offset of the first occurrence of `text` lying wholly inside `buffer`, compared byte for
// byte (case matters); an empty text is found at 0.
std::optional<std::size_t> FindInBuffer(std::string_view buffer, std::string_view text);

}  // namespace tenvar::http
