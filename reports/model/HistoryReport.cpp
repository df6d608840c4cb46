#include "reports/model/HistoryReport.h"

#include "core/ImageIndex.h"
#include "core/RegisterNode.h"
#include "core/Services.h"
#include "reports/model/ReportNode.h"
#include "storage/NetDescription.h"

namespace vexa {

std::unique_ptr<TReportNode> HistoryReport(const TRegisterNode& reg) {
  if (reg.Count() == 0) return nullptr;
  auto report = std::make_unique<TReportNode>(nullptr);
  report->SetCaption(QStringLiteral("История"));
  report->SetImageIndex(iiNEW);
  auto* copy = new TRegisterNode(report.get());  // owned by the report
  copy->Assign(reg);
  copy->SetCaption(NodeFullName(reg));
  copy->SetImageIndex(iiREPORTN);
  const double now = Now();
  report->SetLastPoint(now);
  report->SetStartPoint(now -
                        static_cast<double>(copy->LoggingInterval()) * copy->MaxCount() / kSecondsPerDay);
  return report;
}

}  // namespace vexa
