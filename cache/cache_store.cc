#include "cache/cache_store.h"

#include <sys/stat.h>

#include <cerrno>
#include <filesystem>
#include <mutex>
#include <utility>

#include "cache/cache_path.h"
#include "platform/file_system.h"
#include "platform/write_all.h"

namespace tenvar::cache {
namespace {

constexpr double kBytesToMB = 1.0 / 1048576.0;

// Putting an item in place or removing one, with the counters that follow the file: two
// stores of one URL must not both find it absent and both count it.
std::mutex placing;

bool Refuse(const std::function<void(std::string_view)>& log, std::string_view why) {
  log(why);
  return false;
}

std::string PartialFolder(std::string_view cacheDir) {
  return std::string(cacheDir) + "/" + std::string(kPartialFolder);
}

// A fresh file in the partial folder, its name in `path`.
platform::UniqueFd CreatePartial(std::string_view cacheDir, std::string& path) {
  const std::string folder = PartialFolder(cacheDir);
  std::error_code ignored;
  std::filesystem::create_directories(folder, ignored);
  path = folder + "/item-XXXXXX";
  platform::UniqueFd file = platform::CreateUniqueFile(path);
  if (file.Valid()) platform::SetMode(file.Get(), 0644);
  return file;
}

bool MoveIntoPlace(const std::string& from, const std::string& to) {
  std::error_code ignored;
  std::filesystem::create_directories(std::filesystem::path(to).parent_path(), ignored);
  return platform::RenameFile(from, to);
}

// Writes the header file whole under a partial name and renames it into place.
bool PlaceKeptHeaders(std::string_view cacheDir, std::string_view cacheFileName,
                      const KeptHeaders& headers) {
  std::string partial;
  const platform::UniqueFd file = CreatePartial(cacheDir, partial);
  if (!file.Valid()) return false;
  if (!platform::WriteAll(file.Get(), FormatKeptHeaders(headers)) ||
      !MoveIntoPlace(partial, KeptHeadersPathFor(cacheDir, cacheFileName))) {
    platform::RemoveFile(partial);
    return false;
  }
  return true;
}

// The size of the regular file at `path`, or nothing.
std::optional<std::uint64_t> RegularFileSize(const std::string& path) {
  const std::optional<struct stat> status = platform::LinkStatusOf(path);
  if (!status || !S_ISREG(status->st_mode)) return std::nullopt;
  return static_cast<std::uint64_t>(status->st_size);
}

}  // namespace

std::optional<ItemWriter> ItemWriter::Begin(std::string_view cacheDir) {
  std::string path;
  platform::UniqueFd file = CreatePartial(cacheDir, path);
  if (!file.Valid()) return std::nullopt;
  return ItemWriter(std::move(path), std::move(file));
}

ItemWriter::ItemWriter(std::string path, platform::UniqueFd file)
    : path_(std::move(path)), file_(std::move(file)) {}

ItemWriter::ItemWriter(ItemWriter&& other) noexcept
    : path_(std::exchange(other.path_, std::string())),
      file_(std::move(other.file_)),
      size_(other.size_) {}

ItemWriter& ItemWriter::operator=(ItemWriter&& other) noexcept {
  if (this == &other) return *this;
  if (!path_.empty()) platform::RemoveFile(path_);
  path_ = std::exchange(other.path_, std::string());
  file_ = std::move(other.file_);
  size_ = other.size_;
  return *this;
}

ItemWriter::~ItemWriter() {
  if (!path_.empty()) platform::RemoveFile(path_);
}

bool ItemWriter::Write(std::string_view bytes) {
  if (!platform::WriteAll(file_.Get(), bytes)) return false;
  size_ += bytes.size();
  return true;
}

std::optional<std::string> EarlyStoreRefusal(const CacheStoreRequest& request, double sizeMB) {
  const std::string_view name = request.CacheFileName;
  if (name.empty()) return "Not caching, filename has errors";
  if (name.size() > 260) return "Not caching, filename is too long";
  if (request.Path.find('?') != std::string_view::npos) return "Not caching, URL has ? character";
  if (request.LimitCache && static_cast<double>(request.CacheLimit) < sizeMB) {
    return "Not caching, cache is full";
  }
  if (request.Exclusions != nullptr) {
    for (const std::string& entry : *request.Exclusions) {
      if (name.find(entry) != std::string_view::npos) {
        return "Not caching, URL is in cache exclusion list";
      }
    }
  }
  return std::nullopt;
}

bool CacheStore(const CacheStoreRequest& request, ItemWriter& body, CacheCounters counters,
                const std::function<void(std::string_view)>& log) {
  const std::string name(request.CacheFileName);
  if (name.empty()) return Refuse(log, "Not caching, filename has errors");
  if (name.size() > 260) return Refuse(log, "Not caching, filename is too long");
  if (request.Path.find('?') != std::string_view::npos) {
    return Refuse(log, "Not caching, URL has ? character");
  }
  if (body.Size() == 0) return Refuse(log, "Not caching, response buffer is empty");
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

  const auto fail = [&] {
    return Refuse(log, "Error writing cache file: " + name + " (" + std::to_string(errno) + ")");
  };
  if (!platform::SetLastWriteTime(body.file_.Get(), {request.LastModified, 0})) return fail();
  const std::optional<struct stat> status = platform::StatusOf(body.file_.Get());
  if (!status) return fail();
  // The header file goes first: until the body follows, the pair does not match and the
  // item is a miss, never a new body under old headers.
  const std::string headersFile = KeptHeadersPathFor(request.CacheDir, name);
  if (request.Headers != nullptr) {
    KeptHeaders headers = *request.Headers;
    headers.BodyBytes = body.Size();
    headers.BodyInode = static_cast<std::uint64_t>(status->st_ino);
    if (!PlaceKeptHeaders(request.CacheDir, name, headers)) return fail();
  } else {
    platform::RemoveFile(headersFile);
  }
  const std::lock_guard lock(placing);
  const std::optional<std::uint64_t> replaced = RegularFileSize(name);
  if (!MoveIntoPlace(body.path_, name)) return fail();
  body.path_.clear();

  if (replaced) {
    counters.SizeMB.fetch_sub(static_cast<double>(*replaced) * kBytesToMB);
  } else {
    counters.ItemCount.fetch_add(1);
  }
  counters.SizeMB.fetch_add(static_cast<double>(body.Size()) * kBytesToMB);
  return true;
}

bool UpdateKeptHeaders(std::string_view cacheDir, std::string_view cacheFileName,
                       const KeptHeaders& headers) {
  return PlaceKeptHeaders(cacheDir, cacheFileName, headers);
}

void RemoveCacheItem(std::string_view cacheDir, std::string_view cacheFileName,
                     CacheCounters counters) {
  const std::string name(cacheFileName);
  const std::lock_guard lock(placing);
  const std::optional<std::uint64_t> size = RegularFileSize(name);
  if (size && platform::RemoveFile(name)) {
    counters.ItemCount.fetch_sub(1);
    counters.SizeMB.fetch_sub(static_cast<double>(*size) * kBytesToMB);
  }
  platform::RemoveFile(KeptHeadersPathFor(cacheDir, name));
}

void RemoveUnfinishedStores(std::string_view cacheDir) {
  namespace fs = std::filesystem;
  std::error_code error;
  fs::remove_all(PartialFolder(cacheDir), error);
  // Earlier versions wrote an item beside its place as "<name>.partial-XXXXXX", where a URL
  // could reach it; a crash left those behind.
  constexpr std::string_view kOldPartial = ".partial-";
  constexpr std::size_t kUniqueLetters = 6;
  std::vector<fs::path> leftovers;
  fs::recursive_directory_iterator walk(std::string(cacheDir),
                                        fs::directory_options::skip_permission_denied, error);
  for (const fs::recursive_directory_iterator end; !error && walk != end; walk.increment(error)) {
    const std::string name = walk->path().filename().string();
    const std::size_t at = name.rfind(kOldPartial);
    if (at != std::string::npos && at > 0 &&
        name.size() == at + kOldPartial.size() + kUniqueLetters && walk->is_regular_file(error)) {
      leftovers.push_back(walk->path());
    }
  }
  for (const fs::path& leftover : leftovers) fs::remove(leftover, error);
}

}  // namespace tenvar::cache
