// Reading files and pipes: a descriptor opened for reading, one read at a time, or a whole
// regular file of bounded size. Failures come back as values, with their errno.
#pragma once

#include <cstddef>
#include <span>
#include <string>

#include "platform/file_time.h"
#include "platform/sys_result.h"
#include "platform/unique_fd.h"

namespace tenvar::platform {

// Opens `path` read-only and close-on-exec; without `followLinks`, a symbolic link fails to
// open (ELOOP). Invalid on failure, errno kept.
UniqueFd OpenForReading(const std::string& path, bool followLinks);

// One read(), EINTR retried: the bytes read (0 at the end) or the errno.
SysResult ReadSome(int fd, std::span<char> into);

struct FileContents {
  enum class Outcome {
    Read,        // Bytes and LastWrite hold the file
    OpenFailed,  // Error tells why
    Refused,     // not a regular file, or larger than the limit (LastWrite is set)
    ReadFailed,  // fstat() or read() failed
  };
  Outcome Result = Outcome::OpenFailed;
  int Error = 0;  // the errno of a failed open or read
  std::string Bytes;
  FileTime LastWrite = 0;
};

// The whole of the regular file `path`, up to `maxBytes`, which also holds for a file that
// grows while it is read. A FIFO or device is refused without waiting on it.
FileContents ReadRegularFile(const std::string& path, std::size_t maxBytes, bool followLinks);

}  // namespace tenvar::platform
