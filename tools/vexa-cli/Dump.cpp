// vexa-cli dump FILE: a configuration or archive file as indented text, read level by level from
// the file itself, so that a damaged object shows as such and the rest still shows.

#include <QFileInfo>

#include "storage/CompoundFile.h"
#include "storage/StgHandlerUnit.h"
#include "storage/StrHandlerUnit.h"
#include "tools/vexa-cli/CliContext.h"

namespace vexa::cli {

namespace {

void DumpLevel(const CompoundStorage& level, int depth, QStringList& out) {
  const QString indent(2 * depth, QLatin1Char(' '));
  if (!level.HasStream(QStringLiteral("Object"))) {
    out << indent + QStringLiteral("(level %1 without an object)").arg(level.Name());
  } else {
    try {
      const TParsedStream s = ParseComponentStream(level.Stream(QStringLiteral("Object")));
      QString line =
          indent + s.ClassName + QLatin1Char(' ') + (s.Name.isEmpty() ? QStringLiteral("-") : s.Name);
      for (const TStreamRecord& r : s.Records)
        line += QLatin1Char(' ') + r.Name + QLatin1Char('=') + StreamValueText(r.Value);
      out << line;
    } catch (const EStreamError& e) {
      out << indent + QStringLiteral("(damaged object: %1)").arg(e.Message());
    }
  }
  // Children in index order, as the program loads them.
  for (int i = 0; level.HasStorage(TStgHandler::ChildName(i)); ++i)
    DumpLevel(*level.OpenStorage(TStgHandler::ChildName(i)), depth + 1, out);
}

int Dump(TCliContext&, const QStringList& args) {
  if (args.size() != 1) return Usage();
  QString why;
  auto file = CompoundFile::Open(args[0], &why);
  if (!file) {
    Err(QStringLiteral("vexa-cli: %1 is not a configuration or archive file: %2").arg(args[0], why));
    return 1;
  }
  QStringList out;
  DumpLevel(file->Root(), 0, out);
  for (const QString& line : out) Out(line);
  return 0;
}

const TCommandRegistrar kDump{
    QStringLiteral("dump"),
    {&Dump, QStringLiteral("dump FILE              a configuration or archive file as indented text"),
     false}};

}  // namespace

}  // namespace vexa::cli
