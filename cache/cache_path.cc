#include "cache/cache_path.h"

namespace tenvar::cache {
namespace {

constexpr std::int32_t kHttpPort = 80;

bool HasDotDotSegment(std::string_view relative) {
  while (!relative.empty()) {
    const size_t slash = relative.find('/');
    if (relative.substr(0, slash) == "..") return true;
    if (slash == std::string_view::npos) break;
    relative.remove_prefix(slash + 1);
  }
  return false;
}

}  // namespace

std::optional<std::string> CachePathFor(std::string_view cacheDir, std::string_view host,
                                        std::int32_t port, std::string_view path) {
  if (cacheDir.size() + host.size() + path.size() >= kMaxCacheNameParts) return std::nullopt;
  if (path.find('?') != std::string_view::npos) return std::nullopt;
  if (host.empty() || host.front() == '.' || host.find('/') != std::string_view::npos) {
    return std::nullopt;
  }

  std::string relative;
  relative.reserve(host.size() + path.size() + 16);
  relative.append(host);
  // Port 80 items keep the place they always had.
  if (port != kHttpPort) relative.append(":").append(std::to_string(port));
  relative.append(path);
  if (relative.find('\0') != std::string::npos || HasDotDotSegment(relative)) return std::nullopt;
  for (char& c : relative) {
    if (c == '*' || c == '<' || c == '>' || c == '|') c = '_';
  }
  if (relative.back() == '/') relative.append("index.html");

  std::string name(cacheDir);
  name.append("/").append(relative);
  return name;
}

std::string KeptHeadersPathFor(std::string_view cacheDir, std::string_view cacheFileName) {
  std::string name(cacheDir);
  name.append("/").append(kHeadersFolder);
  if (cacheFileName.size() > cacheDir.size()) name.append(cacheFileName.substr(cacheDir.size()));
  return name;
}

}  // namespace tenvar::cache
