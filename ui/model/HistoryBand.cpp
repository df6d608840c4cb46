#include "ui/model/HistoryBand.h"

#include <QDateTime>
#include <QFileInfo>
#include <algorithm>
#include <cmath>
#include <limits>

#include "core/Services.h"
#include "historian/HistoryCsv.h"
#include "historian/HistorySettings.h"
#include "storage/AtomicFile.h"

namespace vexa {

namespace {

constexpr double kNone = std::numeric_limits<double>::quiet_NaN();
// A read-only look: the writer holds its lock for a batch at most.
constexpr int kReadBusyMs = 2000;

}  // namespace

QStringList HistorySpanTexts() {
  return {QStringLiteral("Последние значения"),
          QStringLiteral("Час"),
          QStringLiteral("Сутки"),
          QStringLiteral("Неделя"),
          QStringLiteral("Месяц"),
          QStringLiteral("Год"),
          QStringLiteral("Другой…")};
}

int64_t HistorySpanMs(THistorySpan span) {
  switch (span) {
    case THistorySpan::Hour:
      return kHourMs;
    case THistorySpan::Day:
      return kDayMs;
    case THistorySpan::Week:
      return 7 * kDayMs;
    case THistorySpan::Month:
      return 30 * kDayMs;
    case THistorySpan::Year:
      return 365 * kDayMs;
    case THistorySpan::Recent:
    case THistorySpan::Custom:
      break;
  }
  return 0;
}

void FitBand(THistoryBand& band, int columns) {
  columns = std::max(columns, 0);
  band.Min.assign(static_cast<size_t>(columns), kNone);
  band.Mean.assign(static_cast<size_t>(columns), kNone);
  band.Max.assign(static_cast<size_t>(columns), kNone);
  const int64_t span = band.Until - band.Since;
  if (columns == 0 || span <= 0) return;
  std::vector<double> sum(static_cast<size_t>(columns), 0);
  std::vector<double> weight(static_cast<size_t>(columns), 0);
  for (const THistoryRow& row : band.Rows) {
    if (row.Time < band.Since || row.Time >= band.Until || row.Good <= 0 || !std::isfinite(row.Mean))
      continue;
    const auto x =
        static_cast<size_t>(std::min<int64_t>((row.Time - band.Since) * columns / span, columns - 1));
    const double lo = std::isfinite(row.Min) ? row.Min : row.Mean;
    const double hi = std::isfinite(row.Max) ? row.Max : row.Mean;
    band.Min[x] = std::isnan(band.Min[x]) ? lo : std::min(band.Min[x], lo);
    band.Max[x] = std::isnan(band.Max[x]) ? hi : std::max(band.Max[x], hi);
    sum[x] += row.Mean * static_cast<double>(row.Good);
    weight[x] += static_cast<double>(row.Good);
  }
  for (size_t x = 0; x < sum.size(); ++x)
    if (weight[x] > 0) band.Mean[x] = sum[x] / weight[x];
}

THistoryBand ReadHistoryBand(const QString& folder, const QString& name, int64_t since, int64_t until,
                             int columns, int64_t now) {
  THistoryBand band;
  band.Name = name;
  band.Since = since;
  band.Until = until;
  const THistorySettings settings = LoadHistorySettings(folder);
  const QString path = HistoryPath(folder);
  band.Tier = TierFor({name, since, until, THistoryStep::Auto}, settings.Tiers, now);
  if (!QFileInfo::exists(path)) {
    band.Error = settings.Enabled
                     ? QStringLiteral("Архив значений ещё пуст")
                     : QStringLiteral("Архив значений не ведётся (%1)").arg(HistorySettingsPath(folder));
  } else {
    THistoryStore store;
    if (!store.Open(path, true, kReadBusyMs)) {
      band.Error = store.ErrorText();
    } else {
      band.Rows = store.Query({name, since, until, band.Tier}, settings.Tiers, now);
      band.Error = store.ErrorText();
    }
  }
  FitBand(band, columns);
  return band;
}

TValueAxis BandAxis(const THistoryBand& band, int height, double yScale, int minTickGap) {
  std::vector<double> values = band.Min;
  values.insert(values.end(), band.Max.begin(), band.Max.end());
  return TValueAxis::Fit(values, height, yScale, minTickGap);
}

THistoryReadout BandReadout(const THistoryBand& band, int x, int digits) {
  THistoryReadout r;
  const auto columns = static_cast<int>(band.Mean.size());
  if (x < 0 || x >= columns) return r;
  const int64_t at = band.Since + (band.Until - band.Since) * x / columns;
  const QDateTime dt = QDateTime::fromMSecsSinceEpoch(at).toLocalTime();
  r.Date = QLatin1Char(' ') + dt.date().toString(FormatSettings().ShortDateFormat) + QLatin1Char(' ');
  r.Time = QLatin1Char(' ') + dt.time().toString(FormatSettings().LongTimeFormat).left(10);
  const double mean = band.Mean[static_cast<size_t>(x)];
  r.Value = QLatin1Char(' ') + (std::isnan(mean) ? QStringLiteral("***") : FormatFixed(mean, digits));
  return r;
}

TFaults ExportHistoryBand(const THistoryBand& band, const QString& path) {
  QByteArray text = HistoryCsvHeader(band.Tier).toUtf8() + '\n';
  for (const THistoryRow& row : band.Rows)
    text += HistoryCsvRow(band.Name, row, band.Tier, true).toUtf8() + '\n';
  QString why;
  if (!WriteFileAtomically(path, text, &why))
    return TFaults(QStringLiteral("Ошибка записи файла %1: %2").arg(path, why));
  return {};
}

}  // namespace vexa
