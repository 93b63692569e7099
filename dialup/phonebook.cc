#include "dialup/phonebook.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>

namespace tenvar::dialup {

std::string PhonebookDirectory() {
  const char* override = std::getenv("TENVAR_PPP_PEERS");
  return (override != nullptr && override[0] != '\0') ? override : "/etc/ppp/peers";
}

std::vector<std::string> PhonebookEntries() {
  std::vector<std::string> entries;
  std::error_code error;
  for (std::filesystem::directory_iterator it(PhonebookDirectory(), error), end;
       !error && it != end; it.increment(error)) {
    if (it->is_regular_file(error)) entries.push_back(it->path().filename().string());
  }
  std::sort(entries.begin(), entries.end());
  return entries;
}

std::string DefaultPhonebookEntry() {
  const std::vector<std::string> entries = PhonebookEntries();
  return std::find(entries.begin(), entries.end(), "provider") != entries.end() ? "provider" : "";
}

}  // namespace tenvar::dialup
