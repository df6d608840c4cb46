#pragma once
// The history window's spans: the register's own recent reads (its last 1,200), or an hour, a day, a
// week, a month, a year or a span of the operator's of what the historian kept. A historian span is
// read once when chosen and drawn one pixel column at a time: the band from the least to the
// greatest value in the column, the mean as a line. No widgets: the window draws what these give.

#include <QString>
#include <QStringList>
#include <cstdint>
#include <vector>

#include "core/Faults.h"
#include "historian/HistoryStore.h"
#include "processes/model/ValueAxis.h"
#include "ui/model/HistoryChart.h"

namespace vexa {

enum class THistorySpan { Recent, Hour, Day, Week, Month, Year, Custom };

// The span box's texts, in THistorySpan's order.
QStringList HistorySpanTexts();
// The length of a fixed span in ms; 0 for Recent and Custom.
int64_t HistorySpanMs(THistorySpan span);

struct THistoryBand {
  QString Name;       // the register
  int64_t Since = 0;  // UTC epoch ms, inclusive
  int64_t Until = 0;  // exclusive
  THistoryStep Tier = THistoryStep::Raw;
  std::vector<THistoryRow> Rows;  // as read, oldest first: what is exported
  // One entry per pixel column, Since..Until spread evenly; NaN where no good read fell.
  std::vector<double> Min;
  std::vector<double> Mean;
  std::vector<double> Max;
  QString Error;  // why nothing could be read; empty when the historian answered
};

// The rows fitted to `columns` pixel columns: a column's least of the least, greatest of the
// greatest, and mean weighted by the good reads of each row.
void FitBand(THistoryBand& band, int columns);
// Reads the register's rows over since..until from the historian of the program folder (the tier as
// the span asks, the tiers' lengths from its HISTORY.ini) and fits them to `columns`.
THistoryBand ReadHistoryBand(const QString& folder, const QString& name, int64_t since, int64_t until,
                             int columns, int64_t now);
// The value axis of the band's least and greatest values over `height` pixel rows.
TValueAxis BandAxis(const THistoryBand& band, int height, double yScale, int minTickGap = 24);
// The read-outs of column x: the local date and time where the column starts, and its mean with the
// register's `digits` decimals ("***" where no good read fell).
THistoryReadout BandReadout(const THistoryBand& band, int x, int digits);
// The band's rows as the historian's CSV (vexa-cli history's form), replacing the file at path.
TFaults ExportHistoryBand(const THistoryBand& band, const QString& path);

}  // namespace vexa
