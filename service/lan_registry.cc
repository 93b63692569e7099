#include "service/lan_registry.h"

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>

#include "platform/socket.h"
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

sockaddr_in Destination(in_addr address, std::uint16_t port) {
  sockaddr_in result{};
  result.sin_family = AF_INET;
  result.sin_addr = address;
  result.sin_port = htons(port);
  return result;
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
  for (;;) {
    pollfd entries[2] = {{exitEvent_.Fd(), POLLIN, 0}, {socket_.Get(), POLLIN, 0}};
    if (::poll(entries, 2, -1) < 0 && errno != EINTR) return;
    if (entries[0].revents != 0) return;
    if (entries[1].revents == 0) continue;
    for (;;) {
      sockaddr_in source{};
      socklen_t sourceLength = sizeof source;
      // MSG_TRUNC: the datagram's real length, even when it did not fit.
      const ssize_t length = ::recvfrom(socket_.Get(), buffer, sizeof buffer, MSG_TRUNC,
                                        reinterpret_cast<sockaddr*>(&source), &sourceLength);
      if (length < 0) break;  // drained (or a transient error the next poll shows)
      if (length == 0 || static_cast<std::size_t>(length) > kMaxDatagram) continue;
      if (source.sin_family != AF_INET) continue;
      Handle(std::span<const char>(buffer, static_cast<std::size_t>(length)), source.sin_addr);
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
  const sockaddr_in reply = Destination(source, replyPort_);
  [[maybe_unused]] const ssize_t sent =
      ::sendto(socket_.Get(), "OK", 2, MSG_NOSIGNAL | MSG_DONTWAIT,
               reinterpret_cast<const sockaddr*>(&reply), sizeof reply);
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
  const sockaddr_in destination = Destination(*target, port);
  for (int attempt = 1;; ++attempt) {
    if (::sendto(socket.Get(), "!", 1, MSG_NOSIGNAL,
                 reinterpret_cast<const sockaddr*>(&destination), sizeof destination) == 1) {
      return true;
    }
    if (attempt == kAlertTries) return false;
    pollfd entry{socket.Get(), POLLOUT, 0};
    ::poll(&entry, 1, 1);
  }
}

}  // namespace tenvar::service
