#include "storage/Archives.h"

#include <QDateTime>

#include "core/Services.h"

namespace vexa {

QString ArchiveName(const QString& caption, double startPoint) {
  const QDateTime t = DateTimeToQt(startPoint);
  QString name = caption + t.toString(QStringLiteral(" dd MM yyyy HHmm"));
  for (QChar& c : name)
    if (c == QLatin1Char(' ') || c == QLatin1Char('.') || c == QLatin1Char('/') || c == QLatin1Char('\\'))
      c = QLatin1Char('_');
  return name;
}

}  // namespace vexa
