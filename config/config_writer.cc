#include "config/config_writer.h"

#include <sys/stat.h>

#include <cerrno>
#include <filesystem>
#include <string_view>

#include "platform/file_system.h"
#include "platform/write_all.h"

namespace tenvar::config {
namespace {

class LineWriter {
 public:
  void Text(std::string_view keyword, std::string_view value) {
    out_.append(keyword).append(" ").append(value).append("\n");
  }
  void TextIfSet(std::string_view keyword, std::string_view value) {
    if (!value.empty()) Text(keyword, value);
  }
  void Boolean(std::string_view keyword, bool value) { Text(keyword, value ? "Yes" : "No"); }
  void Number(std::string_view keyword, std::int32_t value) {
    Text(keyword, std::to_string(value));
  }
  void Raw(std::string_view text) { out_.append(text); }
  std::string Take() { return std::move(out_); }

 private:
  std::string out_;
};

}  // namespace

std::string WriteConfiguration(const GlobalSettings& settings,
                               const std::vector<HttpProxyOptions>& proxies,
                               const std::vector<IpTunnelConfig>& tunnels) {
  LineWriter out;
  out.TextIfSet("PhonebookEntry", settings.PhonebookEntry);
  out.Boolean("Dial", settings.Dial);
  out.Number("Timeout", settings.Timeout);
  out.TextIfSet("Username", settings.Username);
  out.TextIfSet("Password", settings.Password);
  out.TextIfSet("LogFile", settings.LogFile);
  out.Number("FTPPort", settings.FTPPort);
  out.TextIfSet("CacheDir", settings.CacheDir);
  out.Boolean("LimitCache", settings.LimitCache);
  out.Number("CacheLimit", settings.CacheLimit);
  out.Number("CacheExpiry", settings.CacheExpiry);

  for (const HttpProxyOptions& proxy : proxies) {
    out.Raw("\n<HTTPProxy " + proxy.Name + ":" + std::to_string(proxy.Port) + ">\n");
    out.Boolean("  UseUpstream", proxy.UseUpstream);
    out.TextIfSet("  UpstreamProxyName", proxy.UpstreamProxyName);
    out.Number("  UpstreamProxyPort", proxy.UpstreamProxyPort);
    out.Boolean("  UseCache", proxy.UseCache);
    out.Boolean("  AlwaysGetNewest", proxy.AlwaysGetNewest);
    out.TextIfSet("  BlockFile", proxy.BlockFile);
    out.Boolean("  AdvancedBlocking", proxy.AdvancedBlocking);
    out.TextIfSet("  UpstreamExclusions", proxy.UpstreamExclusions);
    out.TextIfSet("  CacheExclusions", proxy.CacheExclusions);
    out.Boolean("  EnableLogging", proxy.EnableLogging);
    out.Boolean("  AbuseDetection", proxy.AbuseDetection);
    out.Text("  AbuseKeywords", proxy.AbuseKeywords);
    out.Text("  TrustedSites", proxy.TrustedSites);
    out.Text("  RequestsLog", proxy.RequestsLog);
    out.Raw("</HTTPProxy>\n");
  }

  for (const IpTunnelConfig& tunnel : tunnels) {
    out.Raw("\n<IPTunnel>\n");
    out.Number("  Listen", tunnel.Listen);
    out.Text("  Server", tunnel.Server);
    out.Number("  Port", tunnel.Port);
    out.Raw("</IPTunnel>\n");
  }
  return out.Take();
}

namespace {

// A running Tenvar notices the new file only by a last-write time that differs from the old
// one's. Two writes within one tick of the file system's clock get the same time, so the new
// file is moved just past the old one when it has to be.
bool LaterThan(int fd, const struct timespec& previous) {
  const std::optional<struct stat> status = platform::StatusOf(fd);
  if (!status) return false;
  const auto& now = status->st_mtim;
  if (now.tv_sec > previous.tv_sec ||
      (now.tv_sec == previous.tv_sec && now.tv_nsec > previous.tv_nsec)) {
    return true;
  }
  struct timespec later = previous;
  if (++later.tv_nsec == 1'000'000'000) {
    later.tv_nsec = 0;
    ++later.tv_sec;
  }
  return platform::SetLastWriteTime(fd, later);
}

// The file that is really replaced: the target of a symbolic link, so the link survives.
std::string ReplacedFile(const std::string& path) {
  std::error_code error;
  if (!std::filesystem::is_symlink(path, error)) return path;
  const std::filesystem::path target = std::filesystem::weakly_canonical(path, error);
  return error ? path : target.string();
}

}  // namespace

SaveOutcome SaveConfigurationFile(const std::string& path, const GlobalSettings& settings,
                                  const std::vector<HttpProxyOptions>& proxies,
                                  const std::vector<IpTunnelConfig>& tunnels) {
  using Failure = SaveOutcome::Failure;
  const std::string target = ReplacedFile(path);

  // The file holds the dial-up password: a new file is readable by its owner alone when it
  // has one; an existing file keeps the permissions its administrator gave it.
  mode_t mode = settings.Password.empty() ? 0644 : 0600;
  const std::optional<struct stat> existing = platform::StatusOf(target);
  if (existing) {
    if (S_ISDIR(existing->st_mode)) return {Failure::Open, EISDIR};
    // Renaming would replace a read-only file regardless; its read-only mark must hold, also
    // for root, who could otherwise write it.
    if (!platform::MayWrite(target)) return {Failure::Open, errno};
    if ((existing->st_mode & 0222) == 0) return {Failure::Open, EACCES};
    mode = existing->st_mode & 07777;
  }

  std::string temporary = target + ".saving-XXXXXX";
  const platform::UniqueFd file = platform::CreateUniqueFile(temporary);
  if (!file.Valid()) return {Failure::Open, errno};
  // Saved by root, the file still belongs to whoever owned it, so a Tenvar running as that
  // user can read it again. Others cannot give files away; theirs stay their own.
  if (existing) platform::SetOwner(file.Get(), existing->st_uid, existing->st_gid);
  const std::string text = WriteConfiguration(settings, proxies, tunnels);
  // The rename must not reach the disk before the text does, or a crash could leave an
  // empty file where the old one was.
  if (!platform::SetMode(file.Get(), mode) || !platform::WriteAll(file.Get(), text) ||
      (existing && !LaterThan(file.Get(), existing->st_mtim)) ||
      !platform::SyncToDisk(file.Get()) || !platform::RenameFile(temporary, target)) {
    const int error = errno;
    platform::RemoveFile(temporary);
    return {Failure::Write, error};
  }
  return {};
}

}  // namespace tenvar::config
