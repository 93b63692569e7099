// Name look-ups off the caller's thread. getaddrinfo() cannot be interrupted and a slow name
// server can hold it for half a minute, so each look-up runs on a detached thread that owns
// nothing but a shared mailbox: its owner can leave at once, at shut-down, even while a
// look-up is still out. Results are posted to the mailbox, whose descriptor is readable
// while any wait to be taken. Owned by one thread; the look-up threads only post.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/exit_event.h"
#include "platform/socket.h"

namespace tenvar::platform {

class NameLookups {
 public:
  NameLookups();
  NameLookups(const NameLookups&) = delete;
  NameLookups& operator=(const NameLookups&) = delete;
  ~NameLookups();  // returns at once; look-ups still out post to a mailbox nobody reads

  bool Valid() const;
  int Fd() const;  // readable while results wait

  // Looks `host` up; its result comes back from Take() under `id`. Without a thread to
  // spare, the look-up is made here and now.
  void Start(std::uint64_t id, std::string host);

  // The results posted since the last call.
  std::vector<std::pair<std::uint64_t, Resolution>> Take();

 private:
  struct Mailbox;
  std::shared_ptr<Mailbox> mailbox_;
};

// Looks `host` up (a dotted address without any look-up), up to `attempts` times while it
// fails, giving up when the exit event is signalled first: nothing then.
std::optional<Resolution> ResolveIPv4Until(const std::string& host, const ExitEvent& exitEvent,
                                           int attempts = 1);

}  // namespace tenvar::platform
