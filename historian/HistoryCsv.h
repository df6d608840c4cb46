#pragma once
// What the historian kept, as CSV: the header and rows that vexa-cli history prints and the history
// window exports. Names are the poller's (D001C002R014): nothing in them needs quoting.

#include <QString>

#include "historian/HistoryStore.h"

namespace vexa {

// "time,register,value,ok" for raw reads, else "time,register,min,mean,max,good,failed".
QString HistoryCsvHeader(THistoryStep tier);
// One row; the time as UTC epoch ms, or ISO 8601 UTC when iso.
QString HistoryCsvRow(const QString& name, const THistoryRow& row, THistoryStep tier, bool iso);

}  // namespace vexa
