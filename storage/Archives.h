#pragma once
// Report archives: one file per finished report run in <folder>/Archives, named after the report.
// Saving and loading a report's archive is the report's own (reports/model/ReportArchives).

#include <QString>

namespace vexa {

// Caption, day, month, year and hour+minute, spaces and full stops (and path separators) made
// underscores: Oven.2 started 07.12.2026 09:05 gives Oven_2_07_12_2026_0905.
QString ArchiveName(const QString& caption, double startPoint);

}  // namespace vexa
