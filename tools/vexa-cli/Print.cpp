// vexa-cli print FILE --pdf OUT [--table] [--portrait]: a report archive drawn into a PDF file by
// the print preview's own drawing code, without a display.

#include <memory>

#include "core/RegisterNode.h"
#include "reports/model/ReportNode.h"
#include "reports/paper/ReportPaper.h"
#include "storage/CompoundFile.h"
#include "storage/TreeFiles.h"
#include "tools/vexa-cli/CliContext.h"

namespace vexa::cli {

namespace {

int Print(TCliContext& ctx, const QStringList& args) {
  QString file;
  QString pdf;
  TPrintView view = TPrintView::Graph;
  QPageLayout::Orientation orientation = QPageLayout::Landscape;
  for (qsizetype i = 0; i < args.size(); ++i) {
    const QString& a = args[i];
    if (a == QLatin1String("--pdf")) {
      if (++i == args.size()) return BadArgument(args, i - 1, {"--pdf"});
      pdf = ctx.FilePath(args[i]);
    } else if (a == QLatin1String("--table")) {
      view = TPrintView::Table;
    } else if (a == QLatin1String("--portrait")) {
      orientation = QPageLayout::Portrait;
    } else if (a.startsWith(QLatin1String("--")) || !file.isEmpty()) {
      return BadArgument(args, i);
    } else {
      file = ctx.FilePath(a);
    }
  }
  if (file.isEmpty() || pdf.isEmpty()) return Usage();

  const QString notArchive = QStringLiteral("vexa-cli: %1 — не архив отчёта").arg(file);
  if (!CompoundFile::IsStorageFile(file)) {
    Err(notArchive);
    return 1;
  }
  std::unique_ptr<TReportNode> report;
  try {
    LoadTreeInto(report, file);
  } catch (const EStreamError& e) {
    Err(QStringLiteral("%1: %2").arg(notArchive, e.Message()));
    return 1;
  }
  if (!report) {
    Err(notArchive);
    return 1;
  }
  const std::vector<const TRegisterNode*> registers = ReportRegisters(*report);
  if (registers.empty() || registers.front()->Points().isEmpty()) {
    Err(QStringLiteral("vexa-cli: %1: Отчет пуст!").arg(file));
    return 1;
  }
  QString error;
  const int pages = RenderReportPdf(*report, pdf, orientation, view, &error);
  if (pages < 0) {
    Err(QStringLiteral("vexa-cli: не могу записать %1: %2").arg(pdf, error));
    return 1;
  }
  Out(QStringLiteral("%1: страниц: %2").arg(pdf).arg(pages));
  return 0;
}

const TCommandRegistrar kPrint{
    QStringLiteral("print"),
    {&Print,
     QStringLiteral("print FILE --pdf OUT [--table] [--portrait]\n"
                    "                         архив отчёта в файл PDF, как его рисует предварительный "
                    "просмотр:\n"
                    "                         страница графика или с --table таблица отсчётов; альбомная, "
                    "с --portrait книжная"),
     false, true}};

}  // namespace

}  // namespace vexa::cli
