// The small per-user store where the program records, for other tools, which configuration
// file it runs on: lines "Name=value" in $XDG_CONFIG_HOME/<key> (~/.config/<key> when unset).
#pragma once

#include <string>

namespace tenvar::platform {

// Sets one value, keeping the other lines of the key's file; false when it cannot be written.
bool WriteRegistryValue(const std::string& key, const std::string& name, const std::string& value);

// The file that holds `key`.
std::string RegistryKeyPath(const std::string& key);

}  // namespace tenvar::platform
