#include "reports/model/ReportArchives.h"

#include <QScopeGuard>

#include "core/Services.h"
#include "reports/model/ReportNode.h"
#include "storage/StgHandlerUnit.h"
#include "storage/TreeFiles.h"

namespace vexa {

bool SaveArchive(TReportNode& report) {
  TBusyCursor busy;
  ShowProgramState(kStateSavingArchive);
  const auto done = qScopeGuard([] { ShowProgramState(kStateWorking); });
  if (!IsPlainFileName(report.Caption())) return false;
  return TStgHandler::Create(ArchivePath(report.Caption()))->SaveTree(report);
}

void LoadArchive(std::unique_ptr<TReportNode>& report) {
  if (report && IsPlainFileName(report->Caption())) LoadTreeInto(report, ArchivePath(report->Caption()));
}

}  // namespace vexa
