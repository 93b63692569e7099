#include "platform/name_lookups.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <mutex>
#include <system_error>
#include <thread>

namespace tenvar::platform {

struct NameLookups::Mailbox {
  UniqueFd Wake{::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)};
  std::mutex Lock;  // guards Results
  std::vector<std::pair<std::uint64_t, Resolution>> Results;

  void Post(std::uint64_t id, Resolution result) {
    {
      std::lock_guard lock(Lock);
      Results.emplace_back(id, std::move(result));
    }
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = ::write(Wake.Get(), &one, sizeof one);
  }
};

NameLookups::NameLookups() : mailbox_(std::make_shared<Mailbox>()) {}

NameLookups::~NameLookups() = default;

bool NameLookups::Valid() const { return mailbox_->Wake.Valid(); }

int NameLookups::Fd() const { return mailbox_->Wake.Get(); }

void NameLookups::Start(std::uint64_t id, std::string host) {
  try {
    std::thread([mailbox = mailbox_, id, host] { mailbox->Post(id, ResolveIPv4(host)); }).detach();
  } catch (const std::system_error&) {
    mailbox_->Post(id, ResolveIPv4(host));
  }
}

std::vector<std::pair<std::uint64_t, Resolution>> NameLookups::Take() {
  std::uint64_t count = 0;
  [[maybe_unused]] const ssize_t drained = ::read(mailbox_->Wake.Get(), &count, sizeof count);
  std::lock_guard lock(mailbox_->Lock);
  return std::exchange(mailbox_->Results, {});
}

namespace {

std::optional<Resolution> ResolveOnce(const std::string& host, const ExitEvent& exitEvent) {
  NameLookups lookUps;
  if (!lookUps.Valid()) return ResolveIPv4(host);
  lookUps.Start(0, host);
  for (;;) {
    pollfd entries[2] = {{lookUps.Fd(), POLLIN, 0}, {exitEvent.Fd(), POLLIN, 0}};
    if (::poll(entries, 2, -1) < 0 && errno != EINTR) return std::nullopt;
    if (entries[1].revents != 0) return std::nullopt;
    if (entries[0].revents == 0) continue;
    std::vector<std::pair<std::uint64_t, Resolution>> results = lookUps.Take();
    if (!results.empty()) return std::move(results.front().second);
  }
}

}  // namespace

std::optional<Resolution> ResolveIPv4Until(const std::string& host, const ExitEvent& exitEvent,
                                           int attempts) {
  if (ParseIPv4(host)) return ResolveIPv4(host);
  std::optional<Resolution> result;
  for (int attempt = 0; attempt < attempts; ++attempt) {
    result = ResolveOnce(host, exitEvent);
    if (!result || result->Address) break;
  }
  return result;
}

}  // namespace tenvar::platform
