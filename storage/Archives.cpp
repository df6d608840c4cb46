#include "storage/Archives.h"

#include <QDateTime>
#include <QFileInfo>

#include "core/Services.h"
#include "storage/TreeFiles.h"

namespace vexa {

QString ArchiveName(const QString& caption, double startPoint) {
  const QDateTime t = DateTimeToQt(startPoint);
  QString name = caption + t.toString(QStringLiteral(" dd MM yyyy HHmm"));
  for (QChar& c : name)
    if (c == QLatin1Char(' ') || c == QLatin1Char('.') || c == QLatin1Char('/') || c == QLatin1Char('\\'))
      c = QLatin1Char('_');
  return name;
}

QString FreeArchiveName(const QString& folder, const QString& caption, double startPoint) {
  const QString name = ArchiveName(caption, startPoint);
  QString free = name;
  for (int n = 2; QFileInfo(ArchivePath(folder, free)).isFile(); ++n)
    free = name + QStringLiteral("_%1").arg(n);
  return free;
}

}  // namespace vexa
