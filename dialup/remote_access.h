// The Remote Access layer as the dial manager sees it: the phonebook, dialling an entry with
// progress notifications, whether a connection is up, and hanging up. Implementations are
// thread-safe; notifications come from a thread of the implementation, one at a time.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "dialup/dial_progress.h"

namespace tenvar::dialup {

struct DialRequest {
  std::string Entry;     // the phonebook entry
  std::string Username;  // empty: the entry's own
  std::string Password;  // empty: the entry's own
};

using DialProgressCallback = std::function<void(const DialProgress&)>;

class RemoteAccess {
 public:
  virtual ~RemoteAccess() = default;

  // False when the machine has no dial-up program; nothing else then does anything.
  virtual bool Available() const = 0;

  // The entries that can be dialled, sorted by name.
  virtual std::vector<std::string> PhonebookEntries() const = 0;

  // True while a connection is up: a dial of ours that has connected and neither ended nor
  // been hung up, or a link of the machine that another program dialled. A dial still in
  // progress is not a connection.
  virtual bool HasConnection() = 0;

  // Starts dialling and returns at once: 0, or an errno value when no dial can be started
  // (ENOENT without a dial-up program, EBUSY while a dial of ours is under way and not being
  // hung up). A dial asked for while the previous one is being hung up begins once that has
  // ended. The progress arrives through `progress`; the last notification of every dial is
  // Disconnected, once the dial or its connection has ended for whatever reason, carrying the
  // dialler's exit status (or the errno when it could not be started at all).
  virtual int Dial(const DialRequest& request, DialProgressCallback progress) = 0;

  // Ends our dial or connection, if there is one, without waiting for it to be gone.
  virtual void HangUp() = 0;
};

}  // namespace tenvar::dialup
