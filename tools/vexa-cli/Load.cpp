// vexa-cli load TEXT FILE: the text form that dump prints, read back into a configuration or
// archive file. Every object is checked as the program checks it when loading, and FILE is only
// replaced (atomically) when the whole text is sound.

#include <QFile>
#include <cstdio>

#include "storage/CompoundFile.h"
#include "storage/ConfigText.h"
#include "storage/TreeFiles.h"
#include "tools/vexa-cli/CliContext.h"

namespace vexa::cli {

namespace {

int Load(TCliContext&, const QStringList& args) {
  if (args.size() != 2) return Usage();
  const bool standardInput = args[0] == QLatin1String("-");
  const QString source = standardInput ? QStringLiteral("standard input") : args[0];
  QFile in;
  const bool opened = standardInput ? in.open(stdin, QIODevice::ReadOnly)
                                    : (in.setFileName(args[0]), in.open(QIODevice::ReadOnly));
  if (!opened) {
    Err(QStringLiteral("vexa-cli: cannot read %1: %2").arg(source, in.errorString()));
    return 1;
  }
  const QString text = QString::fromUtf8(in.readAll());
  std::unique_ptr<CompoundFile> file;
  try {
    // A state file (Config/NET.cfg, ...) must hold its own root, as the program requires.
    file = CompoundFileFromText(text, StateRootOfFile(args[1]));
  } catch (const ETextError& e) {
    Err(QStringLiteral("vexa-cli: %1: line %2, column %3: %4")
            .arg(source)
            .arg(e.Line)
            .arg(e.Column)
            .arg(e.Reason));
    return 1;
  }
  QString why;
  if (!file->Save(args[1], &why)) {
    Err(QStringLiteral("vexa-cli: cannot write %1: %2").arg(args[1], why));
    return 1;
  }
  return 0;
}

const TCommandRegistrar kLoad{
    QStringLiteral("load"),
    {&Load,
     QStringLiteral(
         "load TEXT FILE         writes FILE from the text dump prints (TEXT - for standard input); "
         "nothing is written when the text has a fault"),
     false, false, TFolderWrites::TargetFile}};

}  // namespace

}  // namespace vexa::cli
