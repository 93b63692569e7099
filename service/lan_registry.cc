#include "service/lan_registry.h"

#include <poll.h>

#include <algorithm>
#include <chrono>

#include "platform/socket.h"
#include "platform/socket_io.h"
#include "platform/wait.h"
#include "service/lan_address.h"

namespace tenvar::service {
namespace {

constexpr std::size_t kMaxDatagram = 96;
constexpr std::size_t kUserNameOffset = 64;
constexpr std::size_t kMachineNameEnd = 63;  // byte 63 ends the machine name in any case
constexpr int kAlertTries = 100;

// The text from `begin` up to a NUL, `end` or the datagram's end, whichever comes first.
std::string FieldAt(std::span<const char> datagram, std::size_t begin, std::size_t end) {
  end = std::min(end, datagram.size());
  if (begin >= end) return std::string();
  const char* first = datagram.data() + begin;
  const char* last = std::find(first, datagram.data() + end, '\0');
  return std::string(first, last);
}

}  // namespace

std::optional<LanClient> ParseRegistration(std::span<const char> datagram) {
  if (datagram.empty() || datagram.size() > kMaxDatagram || datagram[0] != '+') {
    return std::nullopt;
  }
  LanClient client;
  std::size_t nameStart = 1;
  if (datagram.size() > 1 && datagram[1] == '*') {
    client.Starred = true;
    nameStart = 2;
  }
  client.MachineName = FieldAt(datagram, nameStart, kMachineNameEnd);
  client.UserName = FieldAt(datagram, kUserNameOffset, datagram.size());
  return client;
}

LanRegistry::LanRegistry(const platform::ExitEvent& exitEvent,
                         std::function<void(std::string_view)> logEvent, std::uint16_t port,
                         std::uint16_t replyPort)
    : exitEvent_(exitEvent),
      logEvent_(std::move(logEvent)),
      refusals_(logEvent_),
      port_(port),
      replyPort_(replyPort) {}

bool LanRegistry::Open() {
  int error = 0;
  socket_ = platform::OpenUdpSocket(port_, true, error);
  if (!socket_.Valid()) return false;
  if (replyPort_ == 0) replyPort_ = Port();
  return true;
}

std::uint16_t LanRegistry::Port() const {
  return socket_.Valid() ? platform::LocalPort(socket_.Get()) : 0;
}

void LanRegistry::Run() {
  // One byte more than a registration may have, so that a longer one shows as too long.
  char buffer[kMaxDatagram + 1];
  while (platform::WaitFor(socket_.Get(), POLLIN, exitEvent_, platform::kNoDeadline) ==
         platform::WaitResult::Ready) {
    for (;;) {
      const platform::Datagram datagram = platform::ReceiveDatagram(socket_.Get(), buffer);
      // Drained, or a transient error the next wait shows.
      if (!datagram.Length.Ok()) break;
      const auto length = static_cast<std::size_t>(datagram.Length.Value);
      if (length == 0 || length > kMaxDatagram || !datagram.Source) continue;
      Handle(std::span<const char>(buffer, length), *datagram.Source);
    }
  }
}

void LanRegistry::Handle(std::span<const char> datagram, in_addr source) {
  const std::string address = platform::FormatAddress(source);
  if (datagram[0] == '-') {
    std::lock_guard lock(LanClientLock);
    const auto found = clientsByAddress_.find(address);
    if (found == clientsByAddress_.end()) return;
    LanClients.erase(found->second);
    clientsByAddress_.erase(found);
    return;
  }
  if (datagram[0] != '+') return;  // our own "!" among others
  if (!IsLanAddress(source)) {
    refusals_.Refused(source);
    return;
  }
  std::optional<LanClient> client = ParseRegistration(datagram);
  if (!client) return;
  client->IpAddress = address;
  {
    std::lock_guard lock(LanClientLock);
    const auto found = clientsByAddress_.find(address);
    if (found != clientsByAddress_.end()) {
      *found->second = std::move(*client);  // keeps its place among the registrations
    } else {
      if (LanClients.size() >= kMaxClients) {
        clientsByAddress_.erase(LanClients.front().IpAddress);
        LanClients.pop_front();
      }
      LanClients.push_back(std::move(*client));
      clientsByAddress_.emplace(address, std::prev(LanClients.end()));
    }
  }
  // The answer is a datagram like the request: one that is lost is asked for again.
  platform::SendDatagram(socket_.Get(), std::string_view("OK"), source, replyPort_);
}

std::optional<LanClient> LanRegistry::Find(const std::string& ipAddress) const {
  std::lock_guard lock(LanClientLock);
  const auto found = clientsByAddress_.find(ipAddress);
  if (found == clientsByAddress_.end()) return std::nullopt;
  return *found->second;
}

std::vector<LanClient> LanRegistry::Clients() const {
  std::lock_guard lock(LanClientLock);
  return {LanClients.begin(), LanClients.end()};
}

bool SendAbuseAlert(std::uint16_t port, const char* address) {
  const std::optional<in_addr> target = platform::ParseIPv4(address != nullptr ? address : "");
  if (!target) return false;
  int error = 0;
  const platform::UniqueFd socket = platform::OpenUdpSocket(0, true, error);
  if (!socket.Valid()) return false;
  for (int attempt = 1;; ++attempt) {
    if (platform::SendDatagram(socket.Get(), std::string_view("!"), *target, port).Value == 1) {
      return true;
    }
    if (attempt == kAlertTries) return false;
    platform::WaitFor(socket.Get(), POLLOUT,
                      std::chrono::steady_clock::now() + std::chrono::milliseconds(1));
  }
}

}  // namespace tenvar::service
