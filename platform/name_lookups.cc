#include "platform/name_lookups.h"

#include <poll.h>

#include <mutex>
#include <system_error>
#include <thread>

#include "platform/wait.h"
#include "platform/wake_event.h"

namespace tenvar::platform {

struct NameLookups::Mailbox {
  WakeEvent Wake;
  std::mutex Lock;  // guards Results
  std::vector<std::pair<std::uint64_t, Resolution>> Results;

  void Post(std::uint64_t id, Resolution result) {
    {
      std::lock_guard lock(Lock);
      Results.emplace_back(id, std::move(result));
    }
    Wake.Wake();
  }
};

NameLookups::NameLookups() : mailbox_(std::make_shared<Mailbox>()) {}

NameLookups::~NameLookups() = default;

bool NameLookups::Valid() const { return mailbox_->Wake.Valid(); }

int NameLookups::Fd() const { return mailbox_->Wake.Fd(); }

void NameLookups::Start(std::uint64_t id, std::string host) {
  try {
    std::thread([mailbox = mailbox_, id, host] { mailbox->Post(id, ResolveIPv4(host)); }).detach();
  } catch (const std::system_error&) {
    mailbox_->Post(id, ResolveIPv4(host));
  }
}

std::vector<std::pair<std::uint64_t, Resolution>> NameLookups::Take() {
  mailbox_->Wake.Clear();
  std::lock_guard lock(mailbox_->Lock);
  return std::exchange(mailbox_->Results, {});
}

namespace {

std::optional<Resolution> ResolveOnce(const std::string& host, const ExitEvent& exitEvent) {
  NameLookups lookUps;
  if (!lookUps.Valid()) return ResolveIPv4(host);
  lookUps.Start(0, host);
  for (;;) {
    if (WaitFor(lookUps.Fd(), POLLIN, exitEvent, kNoDeadline) != WaitResult::Ready) {
      return std::nullopt;
    }
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
