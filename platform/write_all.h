// Writes a whole byte string to a file or pipe, however many write() calls it takes.
#pragma once

#include <string_view>

namespace tenvar::platform {

// True when every byte was written; false at the first failure (EINTR is retried).
bool WriteAll(int fd, std::string_view bytes);

}  // namespace tenvar::platform
