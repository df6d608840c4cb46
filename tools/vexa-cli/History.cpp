// vexa-cli history: what the historian kept of some registers as CSV with a header, one tier chosen
// by the step (raw reads, or one-minute or one-hour buckets; auto by the span), oldest first.

#include <QDateTime>
#include <QFileInfo>
#include <optional>

#include "core/Services.h"
#include "historian/HistoryCsv.h"
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
      if (!s) return BadValue(args[i - 1], args[i]);
      step = *s;
    } else if (args[i] == QLatin1String("--historian") && i + 1 < args.size()) {
      url = args[++i];
    } else if (args[i] == QLatin1String("--iso")) {
      iso = true;
    } else if (args[i].startsWith(QLatin1String("--"))) {
      return BadArgument(args, i, {"--since", "--until", "--step"});
    } else {
      names << args[i];
    }
  }
  if (names.isEmpty()) {
    Err(QStringLiteral("vexa-cli: history: нужно имя регистра; справка: vexa-cli --help"));
    return 2;
  }
  const std::optional<int64_t> to = until.isEmpty() ? std::optional<int64_t>(now) : InstantOf(until, now);
  const std::optional<int64_t> from =
      since.isEmpty() && to ? std::optional<int64_t>(*to - kDayMs) : InstantOf(since, now);
  if (!from || !to) {
    Err(
        QStringLiteral("vexa-cli: --since и --until: миллисекунды от 1970 года, ISO 8601, "
                       "\"ДД.ММ.ГГГГ Ч:ММ:СС\" или -N[smhd]"));
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
  Out(HistoryCsvHeader(tier));
  if (!postgres && !QFileInfo::exists(path)) {
    Err(QStringLiteral("vexa-cli: истории ещё нет: %1").arg(path));
    return 0;
  }
  THistoryStore sqlite;
  TPgHistoryStore server;
  THistoryDatabase& store = postgres ? static_cast<THistoryDatabase&>(server) : sqlite;
  if (postgres ? !server.Open(settings.Url, HistorySourceOf(settings, ctx.Dir), true)
               : !sqlite.Open(path, true, kReadBusyMs)) {
    if (postgres && server.Trouble() == TJournalTrouble::Missing) {
      Err(QStringLiteral("vexa-cli: истории ещё нет: %1").arg(settings.Url));
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
    for (const THistoryRow& r : rows) Out(HistoryCsvRow(name, r, tier, iso));
  }
  return 0;
}

const TCommandRegistrar kHistory{
    QStringLiteral("history"),
    {&History,
     QStringLiteral(
         "history NAME... [--since T] [--until T] [--step raw|1m|1h|auto] [--iso] [--historian URL]\n"
         "                         что архив истории (Archives/history.sqlite или сервер PostgreSQL\n"
         "                         из HISTORY.ini либо --historian postgresql://user@host[:port]/db)\n"
         "                         хранит о регистрах с T по T (по умолчанию за последние сутки), в CSV:\n"
         "                         time (мс UTC от 1970 года; --iso: ISO 8601 UTC), register, min, mean,\n"
         "                         max, good, failed, для отдельных чтений time, register, value, ok;\n"
         "                         T: мс, ISO 8601, \"ДД.ММ.ГГГГ Ч:ММ:СС\" или -N[smhd]; auto берёт\n"
         "                         чтения до 6 ч, минуты до 4 суток, иначе часы"),
     false, false, TFolderWrites::Nothing}};

}  // namespace

}  // namespace vexa::cli
