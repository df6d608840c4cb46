#pragma once
// vexa-cli run as a systemd service (Type=notify, sd_notify(3)): READY=1 once the line is open and
// the state loaded; WATCHDOG=1 at half the interval systemd asks for, but only while the poller
// gets on with its exchanges and passes, so that a hung poller has the service restarted although
// the rest of the program still runs; STATUS= with what is polled and how long a round takes;
// STOPPING=1 as the run ends.

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QTimer>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

namespace vexa {
class TCustomRegister;
class TNetwork;
}  // namespace vexa

namespace vexa::cli {

// "опрос: 75 регистров, 3 с": the registers the poller polls and the mean time between two reads of
// one register (left out until some register was read twice).
QString PollStatusText(int registers, std::optional<double> cycleSeconds);

class TServiceNotifier {
 public:
  // One message to the service manager per call ("WATCHDOG=1\nSTATUS=…"); the real one is
  // sd_notify, a test's takes the messages.
  using TSend = std::function<void(const QByteArray& message)>;
  // watchdogUs: the interval within which the manager wants a ping, 0 for none.
  TServiceNotifier(TNetwork& network, TSend send, uint64_t watchdogUs);
  ~TServiceNotifier();
  TServiceNotifier(const TServiceNotifier&) = delete;
  TServiceNotifier& operator=(const TServiceNotifier&) = delete;

  // The notifier of the manager that started this process (NOTIFY_SOCKET, WATCHDOG_USEC); null
  // when none did.
  static std::unique_ptr<TServiceNotifier> ForThisProcess(TNetwork& network);

  // Main thread, with the poller running: ready, and the looks begin.
  void Ready();
  // The run is ending (SIGTERM, or its time is up): the save that follows may take a while.
  void Stopping();
  // What the timer runs: a ping when the poller got on since the last look, and the status when
  // it changed.
  void Look();
  int LookIntervalMs() const;

  // Set before Ready: a count that grows while the poller gets on; the network's poller's own
  // (exchanges and passes) unless a test counts for it.
  std::function<uint64_t()> Progress;

 private:
  void Heard(const TCustomRegister& reg);
  int PolledRegisters() const;

  TNetwork& network_;
  TSend send_;
  uint64_t watchdogUs_;
  QTimer timer_;
  int readTicket_ = 0;
  uint64_t progress_ = 0;
  int64_t progressTick_ = 0;  // when the progress last moved
  QString status_;
  // Each register's last read, and the read periods measured since the last look.
  QHash<QString, int64_t> lastRead_;
  double periodSum_ = 0;
  int periods_ = 0;
  std::optional<double> cycle_;
};

}  // namespace vexa::cli
