// A file written under a temporary name beside its final one and renamed into place only
// when complete, so that readers see either the old file or the whole new one. A PartialFile
// that is not committed removes its temporary file.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/file_time.h"
#include "platform/unique_fd.h"

namespace tenvar::platform {

class PartialFile {
 public:
  // Creates the temporary file in the final file's directory; nothing on failure (errno kept).
  static std::optional<PartialFile> Create(const std::string& finalPath);

  PartialFile(PartialFile&& other) noexcept;
  PartialFile& operator=(PartialFile&&) = delete;
  ~PartialFile();

  // Writes every byte; false (with errno) when the disk refuses some.
  bool Write(std::string_view bytes);
  bool SetLastWriteTime(FileTime time);
  // Renames the file into place; false (with errno) and the temporary removed on failure.
  bool Commit();

 private:
  PartialFile(std::string finalPath, std::string temporaryPath, UniqueFd file);

  std::string finalPath_;
  std::string temporaryPath_;  // empty once committed or moved from
  UniqueFd file_;
};

}  // namespace tenvar::platform
