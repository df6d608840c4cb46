// vexa-cli dump FILE: a configuration or archive file as indented text, read level by level from
// the file itself, so that a damaged part shows as such at its place and the rest still shows.
// `load` reads the same text back.

#include <QFileInfo>

#include "storage/CompoundFile.h"
#include "storage/ConfigText.h"
#include "storage/StgHandlerUnit.h"
#include "tools/vexa-cli/CliContext.h"

namespace vexa::cli {

namespace {

int Dump(TCliContext& ctx, const QStringList& args) {
  if (args.size() != 1) return Usage();
  const QString path = ctx.FilePath(args[0]);
  QString why;
  auto file = CompoundFile::Open(path, &why);
  if (!file) {
    // In the words the program has for a file it cannot read; the reader's own detail otherwise.
    QString reason = QStringLiteral("файл не существует");
    if (QFileInfo::exists(path)) reason = TStgHandler::Open(path)->ReadFailure();
    Err(QStringLiteral("vexa-cli: %1 — не файл конфигурации или архива: %2")
            .arg(path, reason.isEmpty() ? why : reason));
    return 1;
  }
  // The limits the program's load keeps; printed lines go out one by one.
  if (const QString refusal = ConfigTextRefusal(file->Root()); !refusal.isEmpty()) {
    Err(QStringLiteral("vexa-cli: %1: %2").arg(path, refusal));
    return 1;
  }
  const int damaged = WriteConfigText(file->Root(), [](const QString& line) { Out(line); });
  if (damaged > 0) {
    Err(QStringLiteral(
            "vexa-cli: %1: повреждённых частей: %2; они отмечены \"%3\", программа их не загружает")
            .arg(path)
            .arg(damaged)
            .arg(QString::fromUtf8(kDamagedMark).trimmed()));
    return 1;
  }
  return 0;
}

const TCommandRegistrar kDump{
    QStringLiteral("dump"),
    {&Dump,
     QStringLiteral(
         "dump FILE              файл конфигурации или архива текстом с отступами; повреждённая\n"
         "                         часть отмечена на своём месте \"# повреждено:\" (код выхода 1)"),
     false}};

}  // namespace

}  // namespace vexa::cli
