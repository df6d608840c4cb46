#include "historian/HistoryCsv.h"

#include <QDateTime>
#include <cmath>

namespace vexa {

namespace {

QString Number(double v) {
  return std::isfinite(v) ? QString::number(v, 'g', 15) : QString();
}

}  // namespace

QString HistoryCsvHeader(THistoryStep tier) {
  return tier == THistoryStep::Raw ? QStringLiteral("time,register,value,ok")
                                   : QStringLiteral("time,register,min,mean,max,good,failed");
}

QString HistoryCsvRow(const QString& name, const THistoryRow& row, THistoryStep tier, bool iso) {
  const QString time = iso ? QDateTime::fromMSecsSinceEpoch(row.Time, Qt::UTC).toString(Qt::ISODateWithMs)
                           : QString::number(row.Time);
  if (tier == THistoryStep::Raw)
    return QStringLiteral("%1,%2,%3,%4")
        .arg(time, name, Number(row.Mean), row.Good > 0 ? QStringLiteral("1") : QStringLiteral("0"));
  return QStringLiteral("%1,%2,%3,%4,%5,%6,%7")
      .arg(time, name, Number(row.Min), Number(row.Mean), Number(row.Max))
      .arg(row.Good)
      .arg(row.Failed);
}

}  // namespace vexa
