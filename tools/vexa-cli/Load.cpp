// vexa-cli load TEXT FILE: the text form that dump prints, read back into a configuration or
// archive file. Every object is checked as the program checks it when loading, and FILE is only
// replaced (atomically) when the whole text is sound.

#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <cstdio>

#include "storage/AtomicFile.h"
#include "storage/CompoundFile.h"
#include "storage/ConfigText.h"
#include "storage/TreeFiles.h"
#include "tools/vexa-cli/CliContext.h"

namespace vexa::cli {

namespace {

int Load(TCliContext& ctx, const QStringList& args) {
  if (args.size() != 2) return Usage();
  const bool standardInput = args[0] == QLatin1String("-");
  const QString source = standardInput ? QStringLiteral("стандартный ввод") : ctx.FilePath(args[0]);
  const QString target = ctx.FilePath(args[1]);
  QFile in;
  const bool opened = standardInput ? in.open(stdin, QIODevice::ReadOnly)
                                    : (in.setFileName(source), in.open(QIODevice::ReadOnly));
  if (!opened) {
    const int error = errno;
    const QFileInfo info(source);
    const QString why = !info.exists()       ? QStringLiteral("файл не существует")
                        : info.isDir()       ? QStringLiteral("на месте файла папка")
                        : !info.isReadable() ? QStringLiteral("нет прав на чтение")
                                             : SystemErrorText(error);
    Err(QStringLiteral("vexa-cli: не могу прочитать %1: %2").arg(source, why));
    return 1;
  }
  const QString text = QString::fromUtf8(in.readAll());
  std::unique_ptr<CompoundFile> file;
  try {
    // A state file (Config/NET.cfg, ...) must hold its own root, as the program requires.
    file = CompoundFileFromText(text, StateRootOfFile(target));
  } catch (const ETextError& e) {
    Err(QStringLiteral("vexa-cli: %1: строка %2, столбец %3: %4")
            .arg(source)
            .arg(e.Line)
            .arg(e.Column)
            .arg(e.Reason));
    return 1;
  }
  QString why;
  if (!file->Save(target, &why)) {
    Err(QStringLiteral("vexa-cli: не могу записать %1: %2").arg(target, why));
    return 1;
  }
  return 0;
}

const TCommandRegistrar kLoad{
    QStringLiteral("load"),
    {&Load,
     QStringLiteral(
         "load TEXT FILE         записывает FILE по тексту, который печатает dump (TEXT - — стандартный\n"
         "                         ввод); при ошибке в тексте ничего не записывается"),
     false, false, TFolderWrites::TargetFile}};

}  // namespace

}  // namespace vexa::cli
