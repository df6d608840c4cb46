#include "reports/model/ReportTick.h"

#include <QScopeGuard>
#include <exception>
#include <vector>

#include "core/Network.h"
#include "core/Services.h"
#include "reports/model/ReportArchives.h"
#include "reports/model/ReportNode.h"
#include "storage/TreeFiles.h"

namespace vexa {

namespace {

void SaveReportsTree(TNetwork& network, TReportNode& report, TFaults& faults) {
  TComponent* reports = report.Owner();
  if (reports == nullptr) return;
  faults.Add(SaveTreeFileForOperator(network, *reports));
}

}  // namespace

QString ArchiveFailedText(const QString& archiveName) {
  return QStringLiteral("Архив '%1' не записан!\r\nЗаписи отчета сохранены до следующей попытки.")
      .arg(archiveName);
}

bool ArchiveReport(const QString& folder, TReportNode& report, QString* name) {
  const QString caption = report.Caption();
  const auto restore = qScopeGuard([&] {
    report.SetCaption(caption);
    report.SetChanged(false);
  });
  const QString archive = FreeArchiveName(folder, caption, report.StartPoint());
  if (name != nullptr) *name = archive;
  report.SetCaption(archive);
  try {
    return SaveArchive(folder, report);
  } catch (const std::exception&) {
    return false;  // a text the archive cannot hold
  }
}

TFaults ReportTick(TNetwork& network, const TReportTickHooks& hooks) {
  TFaults faults;
  // The reports when the tick begins: the tree itself may be gone after the first event processing
  // (a state load replaces it).
  TRootNode& reports = *network.Reports();
  std::vector<TReportRef> refs;
  for (int i = 0; i < reports.ComponentCount(); ++i)
    if (auto* report = dynamic_cast<TReportNode*>(reports.Component(i))) refs.emplace_back(*report);

  for (const TReportRef& ref : refs) {
    if (hooks.ProcessEvents) hooks.ProcessEvents();
    TReportNode* report = ref.Get();
    if (report == nullptr) continue;

    if (report->Enabled()) {
      if (const QString fault = report->RunFault(); !fault.isEmpty()) {
        const QString text = QStringLiteral("Отчет '%1' остановлен:\r\n%2.").arg(report->Caption(), fault);
        report->Stop();
        report->SetImageIndex(iiSTOP);
        if (hooks.ShowStopped) hooks.ShowStopped(*report);
        if ((report = ref.Get())) SaveReportsTree(network, *report, faults);
        faults.Add(text);
        continue;
      }
    }

    report->Refresh(network.LineContext());
    if (!report->Enabled()) continue;
    const int progress = report->Progress();
    if (hooks.ShowProgress) hooks.ShowProgress(*report, progress);
    if ((report = ref.Get()) == nullptr || progress < 100) continue;

    if (report->Save() == 0) {
      QString name;
      // The busy cursor and status text are the window's.
      const bool archived = ArchiveReport(network.Dir(), *report, &name);
      if ((report = ref.Get()) == nullptr) continue;
      if (!archived) {
        // The samples stay for the next tick's attempt; the operator hears of it once.
        if (!report->ArchiveFailed()) {
          report->SetArchiveFailed(true);
          faults.Add(ArchiveFailedText(name));
        }
        continue;
      }
      report->SetArchiveFailed(false);
      network.ReportArchived.Notify(*report, name);
      if ((report = ref.Get()) == nullptr) continue;
    }
    if (report->Trigger() == 0) {
      report->Reset();
      faults.Add(report->StartReport());
    } else {
      if (hooks.ShowStopped) hooks.ShowStopped(*report);
      if ((report = ref.Get()) == nullptr) continue;
      report->SetImageIndex(iiSTOP);
      report->Stop();
    }
    if ((report = ref.Get())) SaveReportsTree(network, *report, faults);
  }
  return faults;
}

}  // namespace vexa
