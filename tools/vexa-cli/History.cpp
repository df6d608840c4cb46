// vexa-cli history: what the historian kept of some registers as CSV with a header, one tier chosen
// by the step (raw reads, or one-minute or one-hour buckets; auto by the span), oldest first.

#include <QDateTime>
#include <QFileInfo>
#include <cmath>
#include <optional>

#include "core/Services.h"
#include "historian/HistorySettings.h"
#include "historian/HistoryStore.h"
#include "historian/PgHistoryStore.h"
#include "tools/vexa-cli/CliContext.h"

namespace vexa::cli {

namespace {

constexpr int kReadBusyMs = 2000;

// Epoch milliseconds; ISO 8601 (without a zone: local time); the regional "DD.MM.YYYY H:MM:SS"
// (local); or back from now: -90s, -30m, -6h, -7d.
std::optional<int64_t> InstantOf(const QString& text, int64_t now) {
  bool ok = false;
  if (text.startsWith(QLatin1Char('-')) && text.size() > 2) {
    const QChar unit = text.back();
    const int64_t n = text.mid(1, text.size() - 2).toLongLong(&ok);
    const int64_t ms = unit == QLatin1Char('s')   ? 1000
                       : unit == QLatin1Char('m') ? kMinuteMs
                       : unit == QLatin1Char('h') ? kHourMs
                       : unit == QLatin1Char('d') ? kDayMs
                                                  : 0;
    if (ok && ms > 0 && n >= 0 && n <= 400LL * 365) return now - n * ms;
    return std::nullopt;
  }
  const int64_t ms = text.toLongLong(&ok);
  if (ok) return ms;
  const QDateTime iso = QDateTime::fromString(text, Qt::ISODateWithMs);
  if (iso.isValid()) return iso.toMSecsSinceEpoch();
  if (const std::optional<double> local = StrToDateTime(text))
    return DateTimeToQt(*local).toMSecsSinceEpoch();
  return std::nullopt;
}

std::optional<THistoryStep> StepOf(const QString& word) {
  const QString w = word.toLower();
  if (w == QLatin1String("raw")) return THistoryStep::Raw;
  if (w == QLatin1String("1m")) return THistoryStep::Minute;
  if (w == QLatin1String("1h")) return THistoryStep::Hour;
  if (w == QLatin1String("auto")) return THistoryStep::Auto;
  return std::nullopt;
}

QString Number(double v) {
  return std::isfinite(v) ? QString::number(v, 'g', 15) : QString();
}

int History(TCliContext& ctx, const QStringList& args) {
  const int64_t now = QDateTime::currentMSecsSinceEpoch();
  QStringList names;
  QString since;
  QString until;
  THistoryStep step = THistoryStep::Auto;
  bool iso = false;
  QString url;
  for (int i = 0; i < args.size(); ++i) {
    if (args[i] == QLatin1String("--since") && i + 1 < args.size()) {
      since = args[++i];
    } else if (args[i] == QLatin1String("--until") && i + 1 < args.size()) {
      until = args[++i];
    } else if (args[i] == QLatin1String("--step") && i + 1 < args.size()) {
      const auto s = StepOf(args[++i]);
      if (!s) return Usage();
      step = *s;
    } else if (args[i] == QLatin1String("--historian") && i + 1 < args.size()) {
      url = args[++i];
    } else if (args[i] == QLatin1String("--iso")) {
      iso = true;
    } else if (args[i].startsWith(QLatin1String("--"))) {
      return Usage();
    } else {
      names << args[i];
    }
  }
  if (names.isEmpty()) return Usage();
  const std::optional<int64_t> to = until.isEmpty() ? std::optional<int64_t>(now) : InstantOf(until, now);
  const std::optional<int64_t> from =
      since.isEmpty() && to ? std::optional<int64_t>(*to - kDayMs) : InstantOf(since, now);
  if (!from || !to) {
    Err(QStringLiteral(
        "vexa-cli: --since and --until want epoch ms, ISO 8601, \"DD.MM.YYYY H:MM:SS\" or -N[smhd]"));
    return 2;
  }
  THistorySettings settings = LoadHistorySettings(ctx.Dir);
  for (const QString& problem : settings.FileProblems) Err(QStringLiteral("vexa-cli: ") + problem);
  if (!url.isEmpty()) {
    settings.Backend = THistoryBackend::Postgresql;
    settings.Url = url;
  }
  if (QString why; settings.Backend == THistoryBackend::Postgresql && !PgTargetOf(settings.Url, &why)) {
    Err(QStringLiteral("vexa-cli: %1: %2")
            .arg(url.isEmpty() ? QStringLiteral("HISTORY.ini: Url") : url, why));
    return 2;
  }
  const bool postgres = settings.Backend == THistoryBackend::Postgresql;
  const QString path = HistoryPath(ctx.Dir);
  // The tier of the first name is that of all: one header for the whole answer.
  const THistoryStep tier = TierFor({names.front(), *from, *to, step}, settings.Tiers, now);
  const bool raw = tier == THistoryStep::Raw;
  Out(raw ? QStringLiteral("time,register,value,ok")
          : QStringLiteral("time,register,min,mean,max,good,failed"));
  if (!postgres && !QFileInfo::exists(path)) {
    Err(QStringLiteral("vexa-cli: no history yet in %1").arg(path));
    return 0;
  }
  THistoryStore sqlite;
  TPgHistoryStore server;
  THistoryDatabase& store = postgres ? static_cast<THistoryDatabase&>(server) : sqlite;
  if (postgres ? !server.Open(settings.Url, HistorySourceOf(settings, ctx.Dir), true)
               : !sqlite.Open(path, true, kReadBusyMs)) {
    if (postgres && server.Trouble() == TJournalTrouble::Missing) {
      Err(QStringLiteral("vexa-cli: no history yet in %1").arg(settings.Url));
      return 0;
    }
    Err(QStringLiteral("vexa-cli: ") + store.ErrorText());
    return 1;
  }
  for (const QString& name : names) {
    const std::vector<THistoryRow> rows = store.Query({name, *from, *to, tier}, settings.Tiers, now);
    if (!store.ErrorText().isEmpty()) {
      Err(QStringLiteral("vexa-cli: ") + store.ErrorText());
      return 1;
    }
    // Names are the poller's (D001C002R014): nothing in them needs quoting.
    for (const THistoryRow& r : rows) {
      const QString time = iso ? QDateTime::fromMSecsSinceEpoch(r.Time, Qt::UTC).toString(Qt::ISODateWithMs)
                               : QString::number(r.Time);
      if (raw)
        Out(QStringLiteral("%1,%2,%3,%4")
                .arg(time, name, Number(r.Mean), r.Good > 0 ? QStringLiteral("1") : QStringLiteral("0")));
      else
        Out(QStringLiteral("%1,%2,%3,%4,%5,%6,%7")
                .arg(time, name, Number(r.Min), Number(r.Mean), Number(r.Max))
                .arg(r.Good)
                .arg(r.Failed));
    }
  }
  return 0;
}

const TCommandRegistrar kHistory{
    QStringLiteral("history"),
    {&History,
     QStringLiteral(
         "history NAME... [--since T] [--until T] [--step raw|1m|1h|auto] [--iso] [--historian URL]  what "
         "the historian (Archives/history.sqlite, or the PostgreSQL server of HISTORY.ini or --historian "
         "postgresql://user@host[:port]/db, as the folder's source) kept of the registers from T to T "
         "(default: the last day) as CSV: "
         "time (UTC epoch ms; --iso: ISO 8601 UTC), register, min, mean, max, good, failed, or for raw "
         "reads time, register, value, ok; T as epoch ms, ISO 8601, \"DD.MM.YYYY H:MM:SS\" or -N[smhd]; "
         "auto takes raw reads up to 6 h, minutes up to 4 days, else hours"),
     false, false, TFolderWrites::Nothing}};

}  // namespace

}  // namespace vexa::cli
