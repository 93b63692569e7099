#include "dialup/ppp_link.h"

#include <net/if.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>

namespace tenvar::dialup {
namespace {

std::optional<std::string> ReadFirstLine(const std::filesystem::path& path) {
  std::ifstream in(path);
  std::string line;
  if (!in || !std::getline(in, line)) return std::nullopt;
  while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
  return line;
}

}  // namespace

bool InterfaceIsUp(const std::string& interfaceDirectory) {
  const std::filesystem::path directory(interfaceDirectory);
  const std::optional<std::string> flags = ReadFirstLine(directory / "flags");
  const std::optional<std::string> operstate = ReadFirstLine(directory / "operstate");
  if (!flags) return operstate && *operstate == "up";
  const unsigned long value = std::strtoul(flags->c_str(), nullptr, 0);
  if ((value & IFF_UP) == 0) return false;
  return !operstate || (*operstate != "down" && *operstate != "lowerlayerdown" &&
                        *operstate != "notpresent" && *operstate != "dormant");
}

bool AnyPppLinkUp(const std::string& netClassDirectory, std::string_view ignoredInterface) {
  std::error_code error;
  for (std::filesystem::directory_iterator it(netClassDirectory, error), end;
       !error && it != end; it.increment(error)) {
    const std::string name = it->path().filename().string();
    if (!name.starts_with("ppp") || name == ignoredInterface) continue;
    if (InterfaceIsUp(it->path().string())) return true;
  }
  return false;
}

}  // namespace tenvar::dialup
