// vexa-cli dump FILE: a configuration or archive file as indented text, read level by level from
// the file itself, so that a damaged part shows as such at its place and the rest still shows.
// `load` reads the same text back.

#include "storage/CompoundFile.h"
#include "storage/ConfigText.h"
#include "tools/vexa-cli/CliContext.h"

namespace vexa::cli {

namespace {

int Dump(TCliContext&, const QStringList& args) {
  if (args.size() != 1) return Usage();
  QString why;
  auto file = CompoundFile::Open(args[0], &why);
  if (!file) {
    Err(QStringLiteral("vexa-cli: %1 is not a configuration or archive file: %2").arg(args[0], why));
    return 1;
  }
  // The limits the program's load keeps; printed lines go out one by one.
  if (const QString refusal = ConfigTextRefusal(file->Root()); !refusal.isEmpty()) {
    Err(QStringLiteral("vexa-cli: %1: %2").arg(args[0], refusal));
    return 1;
  }
  const int damaged = WriteConfigText(file->Root(), [](const QString& line) { Out(line); });
  if (damaged > 0) {
    Err(QStringLiteral("vexa-cli: %1: %2 damaged part(s), marked \"%3\", which the program does not load")
            .arg(args[0])
            .arg(damaged)
            .arg(QString::fromUtf8(kDamagedMark).trimmed()));
    return 1;
  }
  return 0;
}

const TCommandRegistrar kDump{
    QStringLiteral("dump"),
    {&Dump,
     QStringLiteral("dump FILE              a configuration or archive file as indented text; a damaged "
                    "part is marked \"# повреждено:\" at its place (exit 1)"),
     false}};

}  // namespace

}  // namespace vexa::cli
