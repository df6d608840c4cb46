// vexa-cli dump FILE: a configuration or archive file as indented text, read level by level from
// the file itself, so that a damaged object shows as such and the rest still shows. `load` reads
// the same text back.

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
  for (const QString& line : ConfigTextLines(file->Root())) Out(line);
  return 0;
}

const TCommandRegistrar kDump{
    QStringLiteral("dump"),
    {&Dump, QStringLiteral("dump FILE              a configuration or archive file as indented text"),
     false}};

}  // namespace

}  // namespace vexa::cli
