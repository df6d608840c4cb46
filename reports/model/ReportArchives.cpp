#include "reports/model/ReportArchives.h"

#include <QScopeGuard>

#include "core/Services.h"
#include "reports/model/ReportNode.h"
#include "storage/StgHandlerUnit.h"
#include "storage/TreeFiles.h"

namespace vexa {

bool SaveArchive(const QString& folder, TReportNode& report) {
  TBusyCursor busy;
  ShowProgramState(kStateSavingArchive);
  const auto done = qScopeGuard([] { ShowProgramState(kStateWorking); });
  if (!IsPlainFileName(report.Caption())) return false;
  return TStgHandler::Create(ArchivePath(folder, report.Caption()))->SaveTree(report);
}

void LoadArchive(const QString& folder, std::unique_ptr<TReportNode>& report) {
  if (report && IsPlainFileName(report->Caption()))
    LoadTreeInto(report, ArchivePath(folder, report->Caption()));
}

}  // namespace vexa
