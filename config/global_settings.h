// The global options of the configuration file, as one value: readers take a snapshot of
// it (Configuration::Settings) and never see a re-read half applied.
#pragma once

#include <cstdint>
#include <string>

namespace tenvar::config {

struct GlobalSettings {
  std::string PhonebookEntry;
  bool Dial = false;
  std::int32_t Timeout = 5;
  std::string Username;
  std::string Password;
  std::int32_t FTPPort = 0;
  std::string CacheDir;
  bool LimitCache = false;
  std::int32_t CacheLimit = 0;
  std::int32_t CacheExpiry = 7;
  std::string LogFile;
  // Not an option: set at each load beside the program, for temporary files of ftp:// items.
  std::string TempDir;

  bool operator==(const GlobalSettings&) const = default;
};

}  // namespace tenvar::config
