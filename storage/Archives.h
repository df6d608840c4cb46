#pragma once
// Report archives: one file per finished report run in <folder>/Archives, named after the report.

#include <QString>
#include <memory>

namespace vexa {

class TReportNode;

// Writes the archive named by the report's caption (updated in place when it exists). False when
// nothing could be written, or when the caption is no plain file name.
bool SaveArchive(const QString& folder, TReportNode& report);
// Replaces the report by the one stored in the archive its caption names.
void LoadArchive(const QString& folder, std::unique_ptr<TReportNode>& report);
// Caption, day, month, year and hour+minute, spaces and full stops (and path separators) made
// underscores: Oven.2 started 07.12.2026 09:05 gives Oven_2_07_12_2026_0905.
QString ArchiveName(const QString& caption, double startPoint);

}  // namespace vexa
