#include "historian/Historian.h"

#include <QDateTime>
#include <cmath>

#include "core/CustomRegister.h"
#include "core/Network.h"
#include "core/Services.h"

namespace vexa {

THistorianOptions HistorianOptionsFor(const THistorySettings& settings, const QString& programFolder) {
  THistorianOptions o;
  o.Path = HistoryPath(programFolder);
  if (settings.Backend == THistoryBackend::Postgresql) {
    o.Path = PgSpillBase(programFolder);
    o.Url = settings.Url;
    o.Source = HistorySourceOf(settings, programFolder);
  }
  o.Tiers = settings.Tiers;
  return o;
}

std::function<int64_t()> UtcOfProgramClock() {
  const int64_t utc0 = DateTimeToQt(Now()).toMSecsSinceEpoch();
  const int64_t tick0 = TickMs();
  return [utc0, tick0] { return utc0 + (TickMs() - tick0); };
}

std::unique_ptr<THistorian> StartHistorian(TNetwork& network, const std::function<void(const QString&)>& tell,
                                           bool programClock, const QString& url) {
  THistorySettings settings = LoadHistorySettings(network.Dir());
  if (!url.isEmpty()) {
    settings.Backend = THistoryBackend::Postgresql;
    settings.Url = url;
  }
  if (const QStringList problems = settings.Problems(); !problems.isEmpty()) {
    for (const QString& problem : problems) tell(problem);
    tell(QStringLiteral("Архив значений не ведётся: исправьте %1").arg(HistorySettingsPath(network.Dir())));
    return nullptr;
  }
  if (!settings.Enabled) return nullptr;
  THistorianOptions options = HistorianOptionsFor(settings, network.Dir());
  if (programClock) options.UtcNowMs = UtcOfProgramClock();
  auto historian = std::make_unique<THistorian>(network, std::move(options));
  historian->News = tell;
  historian->Attach();
  return historian;
}

THistorian::THistorian(TNetwork& network, THistorianOptions options)
    : network_(network), utcNowMs_(options.UtcNowMs) {
  writer_ = std::make_unique<THistorianWriter>(std::move(options));
  check_.setInterval(1000);
  QObject::connect(&check_, &QTimer::timeout, [this] { Check(); });
}

THistorian::~THistorian() {
  Detach();
}

void THistorian::Attach() {
  if (readTicket_ != 0) return;
  readTicket_ = network_.RegisterRead.Add([this](const TCustomRegister& reg) { Record(reg); });
  check_.start();
}

void THistorian::Detach() {
  if (readTicket_ == 0) return;
  network_.RegisterRead.Remove(readTicket_);
  readTicket_ = 0;
  check_.stop();
}

void THistorian::Record(const TCustomRegister& reg) {
  if (!reg.Enabled()) return;
  THistorySample s;
  s.Name = reg.Name();
  s.Ok = reg.LastIOResult() == iorOK;
  s.Value = s.Ok ? LastNumber(reg) : std::nan("");
  // The read's instant: now on the UTC clock, less how long ago the program's clock saw it.
  const int64_t now = utcNowMs_ ? utcNowMs_() : QDateTime::currentMSecsSinceEpoch();
  const double age = reg.RDTime() > 0 ? (Now() - reg.RDTime()) * static_cast<double>(kMsPerDay) : 0.0;
  s.At = now - std::max<int64_t>(0, std::llround(age));
  writer_->Post(std::move(s));
}

void THistorian::Finish(int ms) {
  Detach();
  writer_->Flush(ms);
  Check();
}

QString THistorian::StatusText() const {
  const THistorianStatus st = writer_->Status();
  if (st.Trouble == TJournalTrouble::None && st.Lost == 0) return {};
  QString text;
  if (st.Trouble != TJournalTrouble::None)
    text =
        QStringLiteral("Архив значений недоступен: %1 чтений ждут записи (%2)").arg(st.Waiting).arg(st.Error);
  if (st.Lost > 0)
    text += (text.isEmpty() ? QString() : QStringLiteral("; ")) +
            QStringLiteral("потеряно чтений: %1").arg(st.Lost);
  return text;
}

void THistorian::Check() {
  if (!News) return;
  const QString aside = writer_->Status().SetAside;
  if (aside != toldAside_) {
    News(QStringLiteral("Архив значений был повреждён и сохранён как %1; начат новый")
             .arg(aside.mid(toldAside_.size()).section(QStringLiteral(", "), -1)));
    toldAside_ = aside;
  }
  const QString text = StatusText();
  if (text == told_) return;
  told_ = text;
  News(text.isEmpty() ? QStringLiteral("Архив значений записывается снова") : text);
}

}  // namespace vexa
