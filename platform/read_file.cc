#include "platform/read_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <utility>

namespace tenvar::platform {
namespace {

int OpenFlags(bool followLinks) { return O_RDONLY | O_CLOEXEC | (followLinks ? 0 : O_NOFOLLOW); }

}  // namespace

UniqueFd OpenForReading(const std::string& path, bool followLinks) {
  return UniqueFd(::open(path.c_str(), OpenFlags(followLinks)));
}

SysResult ReadSome(int fd, std::span<char> into) {
  for (;;) {
    const ssize_t got = ::read(fd, into.data(), into.size());
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return {0, errno};
    return {static_cast<long>(got), 0};
  }
}

FileContents ReadRegularFile(const std::string& path, std::size_t maxBytes, bool followLinks) {
  using Outcome = FileContents::Outcome;
  FileContents contents;
  const auto fail = [&contents](Outcome outcome, int error) {
    contents.Bytes.clear();
    contents.Result = outcome;
    contents.Error = error;
    return std::move(contents);
  };
  // O_NONBLOCK: opening a FIFO must not wait for a writer.
  const UniqueFd file(::open(path.c_str(), OpenFlags(followLinks) | O_NONBLOCK));
  if (!file.Valid()) return fail(Outcome::OpenFailed, errno);
  struct stat status {};
  if (::fstat(file.Get(), &status) != 0) return fail(Outcome::ReadFailed, errno);
  contents.LastWrite =
      static_cast<FileTime>(status.st_mtim.tv_sec) * 1'000'000'000 + status.st_mtim.tv_nsec;
  if (!S_ISREG(status.st_mode) || static_cast<std::uint64_t>(status.st_size) > maxBytes) {
    return fail(Outcome::Refused, 0);
  }
  contents.Bytes.reserve(static_cast<std::size_t>(status.st_size));
  char block[8192];
  for (;;) {
    const SysResult got = ReadSome(file.Get(), block);
    if (!got.Ok()) return fail(Outcome::ReadFailed, got.Error);
    if (got.Value == 0) break;
    contents.Bytes.append(block, static_cast<std::size_t>(got.Value));
    // The file may grow while it is read; the limit holds for what is read, not the size
    // fstat() saw.
    if (contents.Bytes.size() > maxBytes) return fail(Outcome::Refused, 0);
  }
  contents.Result = Outcome::Read;
  return contents;
}

}  // namespace tenvar::platform
