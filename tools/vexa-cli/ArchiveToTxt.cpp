// vexa-cli archive-to-txt FILE: writes FILE.txt as the report archive window's text export does.

#include <QFileInfo>

#include "reports/model/ReportNode.h"
#include "storage/ArchiveText.h"
#include "storage/AtomicFile.h"
#include "storage/CompoundFile.h"
#include "storage/StgHandlerUnit.h"
#include "storage/StrHandlerUnit.h"
#include "storage/TreeFiles.h"
#include "tools/vexa-cli/CliContext.h"

namespace vexa::cli {

namespace {

int ArchiveToTxt(TCliContext& ctx, const QStringList& args) {
  if (args.size() != 1) return Usage();
  const QString path = ctx.FilePath(args[0]);
  if (!CompoundFile::IsStorageFile(path)) {
    Err(QStringLiteral(
        "Не могу преобразовать в Excel.\nДанный файл не является файлом отчета, не существует или "
        "поврежден!"));
    return 1;
  }
  std::unique_ptr<TReportNode> report;
  try {
    // As the program loads an archive: one damaged in part, or nested past the loader's limits,
    // is refused before anything is written, so an earlier export stays as it was.
    LoadTreeInto(report, path);
  } catch (const EStreamError& e) {
    Err(QStringLiteral("vexa-cli: %1.txt не записан: %2").arg(path, e.Message()));
    return 1;
  }
  if (!report) {  // gone since the check above
    Err(QStringLiteral("vexa-cli: %1 не существует").arg(path));
    return 1;
  }
  // Replaced whole, as the window's export does: a failed write leaves the earlier text.
  const QString name = QFileInfo(path).fileName();
  QString why;
  if (!WriteFileAtomically(path + QStringLiteral(".txt"), ArchiveText(*report), &why)) {
    Err(QStringLiteral("Не могу записать %1.txt\n%2").arg(name, why));
    return 1;
  }
  Out(QStringLiteral("Отчет\n%1\nпреобразован в\n%1.txt").arg(name));
  return 0;
}

const TCommandRegistrar kArchiveToTxt{
    QStringLiteral("archive-to-txt"),
    {&ArchiveToTxt,
     QStringLiteral(
         "archive-to-txt FILE    записывает FILE.txt: архив отчёта текстом, разделённым табуляцией"),
     false}};

}  // namespace

}  // namespace vexa::cli
