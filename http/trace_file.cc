#include "http/trace_file.h"

#include <fcntl.h>
#include <unistd.h>

#include "platform/unique_fd.h"

namespace tenvar::http {

void AppendTrace(const char* path, std::string_view bytes) {
  platform::UniqueFd file(::open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644));
  if (!file.Valid()) return;
  [[maybe_unused]] const ssize_t written = ::write(file.Get(), bytes.data(), bytes.size());
}

}  // namespace tenvar::http
