#include "service/lan_registry.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <memory>
#include <string>
#include <thread>

#include "platform/socket.h"
#include "tests/support/loopback.h"

namespace tenvar::service {
namespace {

using platform::UniqueFd;

std::string Registration(std::string_view head, std::string_view user) {
  std::string datagram(head);
  if (!user.empty()) {
    datagram.resize(64, '\0');
    datagram.append(user);
  }
  return datagram;
}

// The machine name runs from byte 1 (2 after a star) to a NUL or byte 62, the user name
// from byte 64 to a NUL or the end; up to 96 bytes starting with '+' are a registration.
TEST(ParseRegistration, ReadsTheStarAndBothNamesWithinTheirFields) {
  const struct {
    std::string Datagram;
    std::optional<LanClient> Parsed;
  } cases[] = {
      {Registration(std::string("+*PC1\0", 6), "alice"), LanClient{true, "alice", "PC1", ""}},
      {Registration(std::string("+PC2\0junk", 9), "bob"), LanClient{false, "bob", "PC2", ""}},
      {"+*" + std::string(62, 'm'), LanClient{true, "", std::string(61, 'm'), ""}},
      {Registration("+PC", std::string("carol\0x", 7)), LanClient{false, "carol", "PC", ""}},
      {"+", LanClient{false, "", "", ""}},
      {"+*", LanClient{true, "", "", ""}},
      {"+PC4", LanClient{false, "", "PC4", ""}},
      {"+" + std::string(95, 'x'),
       LanClient{false, std::string(32, 'x'), std::string(62, 'x'), ""}},
      {"", std::nullopt},
      {"-", std::nullopt},
      {"PC1", std::nullopt},
      {"+" + std::string(96, 'x'), std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Datagram);
    EXPECT_EQ(ParseRegistration(c.Datagram), c.Parsed);
  }
}

// A UDP socket bound to a loopback address, standing in for one LAN machine.
UniqueFd Machine(const char* address, std::uint16_t port) {
  UniqueFd fd(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  sockaddr_in local = test::LoopbackAddress(port);
  ::inet_pton(AF_INET, address, &local.sin_addr);
  EXPECT_EQ(::bind(fd.Get(), reinterpret_cast<sockaddr*>(&local), sizeof local), 0) << address;
  return fd;
}

void SendTo(const UniqueFd& fd, std::uint16_t port, const std::string& datagram) {
  const sockaddr_in target = test::LoopbackAddress(port);
  ASSERT_EQ(::sendto(fd.Get(), datagram.data(), datagram.size(), 0,
                     reinterpret_cast<const sockaddr*>(&target), sizeof target),
            static_cast<ssize_t>(datagram.size()));
}

// The next datagram within 10 s; "<none>" when nothing came.
std::string NextDatagram(const UniqueFd& fd) {
  pollfd entry{fd.Get(), POLLIN, 0};
  if (::poll(&entry, 1, 10000) != 1) return "<none>";
  char buffer[128];
  const ssize_t length = ::recv(fd.Get(), buffer, sizeof buffer, 0);
  return length < 0 ? "<error>" : std::string(buffer, static_cast<std::size_t>(length));
}

bool NothingWaiting(const UniqueFd& fd) {
  char byte = 0;
  return ::recv(fd.Get(), &byte, 1, MSG_DONTWAIT) < 0 && errno == EAGAIN;
}

// A second registry cannot take the port; a flood of registrations from many addresses
// keeps only the newest machines. A machine leaving is seen in the whole-program test.
TEST(LanRegistry, RegistersAndUpdatesMachinesByAddressAndHoldsAtMostItsLimit) {
  // Every machine listens for answers on the same port, each at its own loopback address.
  UniqueFd first = Machine("127.0.0.1", 0);
  const std::uint16_t answerPort = platform::LocalPort(first.Get());
  UniqueFd second = Machine("127.0.0.2", answerPort);

  platform::ExitEvent exitEvent;
  // Read only once the registry's thread has ended.
  std::vector<std::string> log;
  LanRegistry registry(
      exitEvent, [&](std::string_view line) { log.emplace_back(line); }, 0, answerPort);
  ASSERT_TRUE(registry.Open());
  const std::uint16_t port = registry.Port();
  ASSERT_NE(port, 0);
  LanRegistry taken(exitEvent, nullptr, port);
  EXPECT_FALSE(taken.Open());
  EXPECT_EQ(taken.Port(), 0);
  std::jthread runner([&] { registry.Run(); });
  const std::unique_ptr<platform::ExitEvent, void (*)(platform::ExitEvent*)> stop(
      &exitEvent, [](platform::ExitEvent* event) { event->Signal(); });

  SendTo(first, port, Registration(std::string("+*PC1\0", 6), "alice"));
  EXPECT_EQ(NextDatagram(first), "OK");
  EXPECT_EQ(registry.Find("127.0.0.1"), (LanClient{true, "alice", "PC1", "127.0.0.1"}));

  SendTo(first, port, Registration(std::string("+PC1b\0", 6), "bob"));
  EXPECT_EQ(NextDatagram(first), "OK");
  SendTo(second, port, "+PC2");
  EXPECT_EQ(NextDatagram(second), "OK");
  EXPECT_EQ(registry.Clients(), (std::vector<LanClient>{{false, "bob", "PC1b", "127.0.0.1"},
                                                        {false, "", "PC2", "127.0.0.2"}}));

  // An alert and an oversized registration change nothing and get no answer. The second
  // machine's answer comes after the registry has handled both.
  SendTo(first, port, "!");
  SendTo(first, port, "+" + std::string(96, 'x'));
  SendTo(second, port, "+PC2");
  EXPECT_EQ(NextDatagram(second), "OK");
  EXPECT_TRUE(NothingWaiting(first));
  EXPECT_EQ(registry.Find("127.0.0.1")->MachineName, "PC1b");

  const auto address = [](std::size_t i) {
    return "127.1." + std::to_string(i / 250) + "." + std::to_string(1 + i % 250);
  };
  const std::size_t machines = LanRegistry::kMaxClients + 2;
  for (std::size_t i = 0; i < machines; ++i) {
    const UniqueFd machine = Machine(address(i).c_str(), answerPort);
    SendTo(machine, port, "+PC");
    // Every hundredth waits for its answer, so the registry's queue never overflows.
    if (i % 100 == 0 || i + 1 == machines) {
      ASSERT_EQ(NextDatagram(machine), "OK") << i;
    }
  }
  EXPECT_EQ(registry.Clients().size(), LanRegistry::kMaxClients);
  EXPECT_FALSE(registry.Find("127.0.0.2").has_value());
  EXPECT_FALSE(registry.Find(address(1)).has_value());
  EXPECT_TRUE(registry.Find(address(2)).has_value());
  EXPECT_EQ(registry.Clients().back().IpAddress, address(machines - 1));

  exitEvent.Signal();
  runner.join();
  EXPECT_TRUE(log.empty());
}

}  // namespace
}  // namespace tenvar::service
