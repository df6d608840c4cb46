#include "tools/vexa-cli/Systemd.h"

#include <systemd/sd-daemon.h>

#include <algorithm>
#include <utility>

#include "core/CustomRegister.h"
#include "core/ExecuterUnit.h"
#include "core/Network.h"
#include "core/Services.h"

namespace vexa::cli {

namespace {

// Without a watchdog the status still follows the poller, at this pace.
constexpr int kStatusMs = 10000;

QString RegistersNoun(int count) {
  const int tens = count % 100;
  const int last = count % 10;
  if (tens >= 11 && tens <= 14) return QStringLiteral("регистров");
  if (last == 1) return QStringLiteral("регистр");
  if (last >= 2 && last <= 4) return QStringLiteral("регистра");
  return QStringLiteral("регистров");
}

// Tenths below 10 s, whole seconds above; "3 с" rather than "3,0 с".
QString Seconds(double seconds) {
  const int decimals = seconds < 9.95 ? 1 : 0;
  QString text = QString::number(seconds, 'f', decimals);
  if (text.endsWith(QLatin1String(".0"))) text.chop(2);
  return text.replace(QLatin1Char('.'), Services().Format.DecimalSeparator) + QStringLiteral(" с");
}

}  // namespace

QString PollStatusText(int registers, std::optional<double> cycleSeconds) {
  QString text = QStringLiteral("опрос: %1 %2").arg(registers).arg(RegistersNoun(registers));
  if (cycleSeconds) text += QStringLiteral(", ") + Seconds(*cycleSeconds);
  return text;
}

TServiceNotifier::TServiceNotifier(TNetwork& network, TSend send, uint64_t watchdogUs)
    : network_(network), send_(std::move(send)), watchdogUs_(watchdogUs) {
  Progress = [&network] {
    const TExecuter* poller = network.Executer();
    return poller != nullptr ? poller->Progress() : 0;
  };
  timer_.setInterval(LookIntervalMs());
  QObject::connect(&timer_, &QTimer::timeout, [this] { Look(); });
}

TServiceNotifier::~TServiceNotifier() {
  if (readTicket_ != 0) network_.RegisterRead.Remove(readTicket_);
}

std::unique_ptr<TServiceNotifier> TServiceNotifier::ForThisProcess(TNetwork& network) {
  if (qEnvironmentVariableIsEmpty("NOTIFY_SOCKET")) return nullptr;
  uint64_t watchdogUs = 0;
  if (sd_watchdog_enabled(0, &watchdogUs) <= 0) watchdogUs = 0;
  // Nothing to do when the manager cannot be reached: the service then fails to start or is
  // restarted by its watchdog, which says more than a line here would.
  auto send = [](const QByteArray& message) { sd_notify(0, message.constData()); };
  return std::make_unique<TServiceNotifier>(network, send, watchdogUs);
}

int TServiceNotifier::LookIntervalMs() const {
  if (watchdogUs_ == 0) return kStatusMs;
  return static_cast<int>(std::clamp<uint64_t>(watchdogUs_ / 2000, 1, kStatusMs));
}

void TServiceNotifier::Ready() {
  readTicket_ = network_.RegisterRead.Add([this](const TCustomRegister& reg) { Heard(reg); });
  progress_ = Progress();
  progressTick_ = TickMs();
  status_ = PollStatusText(PolledRegisters(), std::nullopt);
  send_("READY=1\nSTATUS=" + status_.toUtf8());
  timer_.start();
}

void TServiceNotifier::Stopping() {
  timer_.stop();
  send_("STOPPING=1");
}

void TServiceNotifier::Look() {
  const int64_t now = TickMs();
  const uint64_t progress = Progress();
  const bool movedOn = progress != progress_;
  if (movedOn) {
    progress_ = progress;
    progressTick_ = now;
  }
  if (periods_ > 0) cycle_ = periodSum_ / periods_;
  periodSum_ = 0;
  periods_ = 0;
  const QString status = movedOn || now - progressTick_ < LookIntervalMs()
                             ? PollStatusText(PolledRegisters(), cycle_)
                             : QStringLiteral("опрос стоит уже %1 с").arg((now - progressTick_ + 500) / 1000);
  QByteArray message;
  // A poller that stands still gets no ping: systemd restarts the service once the interval runs out.
  if (watchdogUs_ != 0 && movedOn) message = "WATCHDOG=1";
  if (status != status_) {
    status_ = status;
    if (!message.isEmpty()) message += '\n';
    message += "STATUS=" + status.toUtf8();
  }
  if (!message.isEmpty()) send_(message);
}

void TServiceNotifier::Heard(const TCustomRegister& reg) {
  const int64_t now = TickMs();
  const auto last = lastRead_.find(reg.Name());
  if (last == lastRead_.end()) {
    lastRead_.insert(reg.Name(), now);
    return;
  }
  periodSum_ += static_cast<double>(now - *last) / 1000;
  ++periods_;
  *last = now;
}

int TServiceNotifier::PolledRegisters() const {
  // As the poller walks: the enabled registers of NET.
  const TComponent* root = network_.Net().get();
  const TComponent* current = root;
  int index = 0;
  TCustomRegister* found = nullptr;
  int count = 0;
  while (!NextRegister(root, current, index, found))
    if (found != nullptr && found->Enabled()) ++count;
  return count;
}

}  // namespace vexa::cli
