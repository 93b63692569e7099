#include "cache/cache_store.h"

#include <cerrno>
#include <filesystem>
#include <optional>

#include "platform/partial_file.h"

namespace tenvar::cache {
namespace {

constexpr double kBytesToMB = 1.0 / 1048576.0;

bool Refuse(const std::function<void(std::string_view)>& log, std::string_view why) {
  log(why);
  return false;
}

}  // namespace

bool CacheStore(const CacheStoreRequest& request, CacheCounters counters,
                const std::function<void(std::string_view)>& log) {
  const std::string name(request.CacheFileName);
  if (name.empty()) return Refuse(log, "Not caching, filename has errors");
  if (name.size() > 260) return Refuse(log, "Not caching, filename is too long");
  if (request.Path.find('?') != std::string_view::npos) {
    return Refuse(log, "Not caching, URL has ? character");
  }
  if (request.Body.empty()) return Refuse(log, "Not caching, response buffer is empty");
  if (request.LimitCache && static_cast<double>(request.CacheLimit) < counters.SizeMB.load()) {
    return Refuse(log, "Not caching, cache is full");
  }
  log("Creating cache file: " + name);
  if (request.Exclusions != nullptr) {
    for (const std::string& entry : *request.Exclusions) {
      if (name.find(entry) != std::string::npos) {
        return Refuse(log, "Not caching, URL is in cache exclusion list");
      }
    }
  }

  std::error_code ignored;
  std::filesystem::create_directories(std::filesystem::path(name).parent_path(), ignored);
  std::optional<platform::PartialFile> file = platform::PartialFile::Create(name);
  if (!file) {
    return Refuse(log, "Error opening cache file: " + name + " (" + std::to_string(errno) + ")");
  }
  if (!file->Write(request.Body) ||
      !file->SetLastWriteTime(platform::FileTime{request.LastModified} * 1'000'000'000) ||
      !file->Commit()) {
    // The partial file goes with `file`: a truncated item is never served.
    return Refuse(log, "Error writing cache file: " + name + " (" + std::to_string(errno) + ")");
  }
  counters.ItemCount.fetch_add(1);
  counters.SizeMB.fetch_add(static_cast<double>(request.Body.size()) * kBytesToMB);
  return true;
}

}  // namespace tenvar::cache
