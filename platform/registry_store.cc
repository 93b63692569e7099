#include "platform/registry_store.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/paths.h"

namespace tenvar::platform {

std::string RegistryKeyPath(const std::string& key) {
  const char* configHome = std::getenv("XDG_CONFIG_HOME");
  if (configHome != nullptr && configHome[0] != '\0') return std::string(configHome) + "/" + key;
  const char* home = std::getenv("HOME");
  return std::string(home != nullptr ? home : ".") + "/.config/" + key;
}

bool WriteRegistryValue(const std::string& key, const std::string& name, const std::string& value) {
  const std::string path = RegistryKeyPath(key);
  if (!CreateDirectories(std::filesystem::path(path).parent_path().string())) return false;

  std::ostringstream content;
  {
    std::ifstream existing(path);
    std::string line;
    while (std::getline(existing, line)) {
      if (line.rfind(name + "=", 0) != 0) content << line << '\n';
    }
  }
  content << name << '=' << value << '\n';

  // Replace the file whole so that a reader never sees it half written.
  const std::string temporary = path + ".new";
  {
    std::ofstream out(temporary, std::ios::trunc);
    out << content.str();
    if (!out.flush()) return false;
  }
  std::error_code error;
  std::filesystem::rename(temporary, path, error);
  return !error;
}

}  // namespace tenvar::platform
