#include "config/settings_file.h"

#include <utility>

#include "platform/read_file.h"
#include "platform/text.h"

namespace tenvar::config {

bool ParseBoolean(std::string_view value) {
  return platform::EqualsIgnoreCase(value, "Yes") || platform::EqualsIgnoreCase(value, "On") ||
         value == "1";
}

SettingsFile ReadSettingsFile(const std::string& path) {
  using FileOutcome = platform::FileContents::Outcome;
  SettingsFile result;
  if (path.empty()) return result;
  platform::FileContents file = platform::ReadRegularFile(path, kMaxSettingsFileBytes, true);
  if (file.Result == FileOutcome::OpenFailed) return result;
  result.Contents = std::move(file.Bytes);
  result.Time = file.LastWrite;
  result.Outcome = file.Result == FileOutcome::Read      ? SettingsFileOutcome::Read
                   : file.Result == FileOutcome::Refused ? SettingsFileOutcome::Refused
                                                         : SettingsFileOutcome::ReadFailed;
  return result;
}

std::string RefusedFileMessage(const std::string& path) {
  return path + " is not a regular file of at most 16 MiB; it is treated as missing";
}

}  // namespace tenvar::config
