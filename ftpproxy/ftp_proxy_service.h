// The FTP proxy: FTP clients on the LAN connect to the FTPPort, name their server with
// "OPEN host" or "USER name@host", and the proxy relays the control connection and serves
// the data commands (PORT, EPRT, PASV, EPSV) itself, so that every data connection passes
// through it. One thread, the one in Run(), accepts and serves every session from one epoll
// set that holds only live sockets; SessionCount() may be called from any thread.
#pragma once

#include <netinet/in.h>
#include <sys/epoll.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <vector>

#include "config/configuration.h"
#include "dialup/dial_manager.h"
#include "ftpproxy/control_text.h"
#include "ftpproxy/ftp_session.h"
#include "platform/epoll.h"
#include "platform/exit_event.h"
#include "platform/name_lookups.h"
#include "platform/socket.h"
#include "platform/unique_fd.h"

namespace tenvar::ftpproxy {

class FtpProxyService {
 public:
  // isLanClient decides which client addresses are served (others are refused and logged);
  // logEvent gets the service's event-log lines. Both are called on the service's thread.
  FtpProxyService(config::Configuration& configuration, const platform::ExitEvent& exitEvent,
                  dialup::DialManager& dial, std::function<void(std::string_view)> logEvent,
                  std::function<bool(in_addr)> isLanClient);
  FtpProxyService(const FtpProxyService&) = delete;
  FtpProxyService& operator=(const FtpProxyService&) = delete;
  ~FtpProxyService() = default;  // name look-ups still out need no waiting for

  // Listens on the FTPPort of the settings; false, and no service, for port 0 or when the
  // port cannot be listened on (which is logged).
  bool Open();
  // Serves connections on a socket that already listens (a test's port 0 listener).
  bool Open(platform::UniqueFd listeningSocket);

  // Accepts and serves until the exit event is signalled, then closes every session.
  void Run();

  std::size_t SessionCount() const;

  // How long a peer may take none of the bytes waiting for it before its session ends.
  // Tests shorten it; call before Run().
  void SetSendStallLimit(std::chrono::milliseconds limit) { sendStallLimit_ = limit; }
  // Called on the service's thread each time its wait returns: lets a test count wake-ups.
  void SetWakeObserver(std::function<void()> observer) { wakeObserver_ = std::move(observer); }

 private:
  using Clock = std::chrono::steady_clock;

  void Accept();
  void AcceptFailed(int error);
  void ApplyLookUps();
  void RemoveEndedSessions();
  void Watch(FtpSession& session);
  bool WatchEndpoint(FtpEndpoint& endpoint, std::uint32_t events, std::uint64_t key);
  void WatchListener(bool watch);
  void DispatchReady(std::span<epoll_event> ready, bool& exit);
  void ResumeAccepts();
  void EndStalledSessions();
  std::chrono::milliseconds WaitTimeout() const;
  void WaitFailed(int error);
  void Touch(FtpSession& session);
  void Serve(FtpSession& session, const std::uint32_t events[4]);
  void ServeClient(FtpSession& session, std::uint32_t events);
  void ServeServer(FtpSession& session, std::uint32_t events);
  void ServeData(FtpSession& session, FtpEndpoint& from, FtpEndpoint& to, std::uint32_t events);
  void ActOnClientLines(FtpSession& session);
  void ActOnServerLines(FtpSession& session);
  void HandleOpen(FtpSession& session, const std::string& hostText,
                  const std::optional<OpenTarget>& target);
  void ResetDataPair(FtpSession& session);
  void HandleActive(FtpSession& session, const std::string& word, const std::string& argument);
  void HandlePassive(FtpSession& session, const std::string& word, const std::string& argument);
  void OpenPassivePair(FtpSession& session, PassiveRequest asked, const std::string& reply);
  void AcceptData(FtpSession& session, FtpEndpoint& endpoint);
  void ConnectToServer(FtpSession& session, in_addr address);
  void OpenFailed(FtpSession& session);
  void ServerGone(FtpSession& session);
  void EndTransferIfDone(FtpSession& session);
  void EndTransfer(FtpSession& session, TransferState result);
  void ReportTransfer(FtpSession& session);
  void Flush(FtpSession& session);
  void Log(const std::string& line) const;

  config::Configuration& configuration_;
  const platform::ExitEvent& exitEvent_;
  dialup::DialManager& dial_;
  std::function<void(std::string_view)> logEvent_;
  std::function<bool(in_addr)> isLanClient_;
  platform::UniqueFd listener_;
  platform::NameLookups nameLookups_;  // readable while look-up results wait
  std::vector<char> readBuffer_;  // used by the service thread only
  std::uint64_t nextSessionId_ = 1;
  std::chrono::milliseconds sendStallLimit_{std::chrono::minutes(2)};
  std::function<void()> wakeObserver_;

  // The serving loop's own state, touched by the service thread only.
  platform::EpollSet epoll_;
  Clock::time_point now_;  // when the current round's wait returned
  std::unordered_map<std::uint64_t, FtpSession*> sessionsById_;
  std::vector<std::uint64_t> touched_;  // sessions whose registrations may be out of date
  bool anyEnded_ = false;
  // While descriptors run short, accepting would fail again at once: the listener rests
  // until then, and data listeners in the order they were paused.
  std::optional<Clock::time_point> listenerPausedUntil_;
  std::deque<std::pair<Clock::time_point, std::uint64_t>> pausedDataListeners_;
  bool descriptorsShort_ = false;  // an episode of failed accepts has been logged
  bool waitFailing_ = false;       // a failing wait has been logged
  bool watchFailing_ = false;      // a failing registration has been logged
  Clock::time_point nextStallCheck_;

  // Guards FtpSessions. Only the service thread adds, removes or touches sessions, so it
  // reads the list without the lock and takes it to change the list.
  mutable std::mutex FtpSessionLock;
  std::list<std::unique_ptr<FtpSession>> FtpSessions;
};

}  // namespace tenvar::ftpproxy
