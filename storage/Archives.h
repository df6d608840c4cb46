#pragma once
// Report archives: one file per finished report run in <folder>/Archives, named after the report.
// Saving and loading a report's archive is the report's own (reports/model/ReportArchives).

#include <QString>

namespace vexa {

// Caption, day, month, year and hour+minute, spaces and full stops (and path separators) made
// underscores: Oven.2 started 07.12.2026 09:05 gives Oven_2_07_12_2026_0905.
QString ArchiveName(const QString& caption, double startPoint);
// ArchiveName, or when <folder>/Archives already holds that name (a window that began at a time the
// clock has shown before: it went back, or an hour repeated at the end of summer time) the name with
// the first free "_2", "_3", ... after it, so that no finished window overwrites another.
QString FreeArchiveName(const QString& folder, const QString& caption, double startPoint);

}  // namespace vexa
