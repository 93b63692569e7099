#include "http/trace_file.h"

#include <sys/stat.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>

#include "platform/append_file.h"
#include "platform/file_system.h"

namespace tenvar::http {
namespace {

constexpr mode_t kPrivateMode = 0600;

// Renames a trace file that has grown past its limit out of the way; the watch on it then
// makes the next append start a new file.
void RollOver(const std::string& path, const platform::AppendFile& file, std::uint64_t rollBytes) {
  const std::optional<struct stat> held = platform::StatusOf(file.Fd());
  if (!held || static_cast<std::uint64_t>(held->st_size) <= rollBytes) return;
  // Several sessions may see the same full file: only one may rename it, and only while the
  // path still names it, or the previous generation would be overwritten by a new file.
  static std::mutex rollLock;
  std::lock_guard lock(rollLock);
  const std::optional<struct stat> named = platform::StatusOf(path);
  if (!named || named->st_ino != held->st_ino || named->st_dev != held->st_dev) return;
  platform::RenameFile(path, path + ".1");
}

}  // namespace

void AppendTrace(const char* path, std::string_view bytes, std::uint64_t rollBytes) {
  // A trace made before with wider permissions is narrowed too.
  const std::shared_ptr<platform::AppendFile> file =
      platform::OpenForAppend(path, kPrivateMode, true);
  if (!file) return;
  const std::optional<std::uint64_t> size = file->Append(bytes);
  if (size && *size > rollBytes) RollOver(path, *file, rollBytes);
}

}  // namespace tenvar::http
