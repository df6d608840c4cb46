#pragma once
// A report's archive: the report tree saved whole under <folder>/Archives, in the file its caption
// names (storage/Archives names it after a finished run).

#include <QString>
#include <memory>

#include "storage/Archives.h"

namespace vexa {

class TReportNode;

// Writes the archive named by the report's caption (updated in place when it exists). False when
// nothing could be written, or when the caption is no plain file name.
bool SaveArchive(const QString& folder, TReportNode& report);
// Replaces the report by the one stored in the archive its caption names.
void LoadArchive(const QString& folder, std::unique_ptr<TReportNode>& report);

}  // namespace vexa
