#include "storage/Archives.h"

#include <QScopeGuard>

#include "core/Services.h"
#include "reports/model/ReportNode.h"
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

QString ArchiveName(const QString& caption, double startPoint) {
  const QDateTime t = DateTimeToQt(startPoint);
  QString name = caption + t.toString(QStringLiteral(" dd MM yyyy HHmm"));
  for (QChar& c : name)
    if (c == QLatin1Char(' ') || c == QLatin1Char('.') || c == QLatin1Char('/') || c == QLatin1Char('\\'))
      c = QLatin1Char('_');
  return name;
}

}  // namespace vexa
