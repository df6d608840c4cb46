#include "ui/ImageList.h"

#include <QPixmapCache>

// Q_INIT_RESOURCE must be used outside any namespace.
static void InitVexaResources() {
  Q_INIT_RESOURCE(vexa);
}

namespace vexa {

void InitResources() {
  static const bool done = (InitVexaResources(), true);
  (void)done;
}

const QStringList& ImageNames() {
  static const QStringList names{
      QStringLiteral("DELETE"),   QStringLiteral("LOOKUP"),    QStringLiteral("NEW"),
      QStringLiteral("OPEN"),     QStringLiteral("PRINT"),     QStringLiteral("SAVE"),
      QStringLiteral("TREE"),     QStringLiteral("SEARCH"),    QStringLiteral("CYCLO"),
      QStringLiteral("EDIT"),     QStringLiteral("PROCESSES"), QStringLiteral("FOLDER"),
      QStringLiteral("FOLDERO"),  QStringLiteral("TOBEGIN"),   QStringLiteral("PLAY"),
      QStringLiteral("PAUSE"),    QStringLiteral("STOP"),      QStringLiteral("RUNTASK"),
      QStringLiteral("CYCLOS"),   QStringLiteral("TABLE"),     QStringLiteral("COPY"),
      QStringLiteral("PASTE"),    QStringLiteral("REGULATOR"), QStringLiteral("CHANNEL"),
      QStringLiteral("PLUS"),     QStringLiteral("REPORT"),    QStringLiteral("REPORTS"),
      QStringLiteral("ARCHIVES"), QStringLiteral("LEFT"),      QStringLiteral("RIGHT"),
      QStringLiteral("ZOOMIN"),   QStringLiteral("ZOOMOUT"),   QStringLiteral("REFRESH"),
      QStringLiteral("MINUS"),    QStringLiteral("ADD"),       QStringLiteral("INSERT"),
      QStringLiteral("COMPRESS"), QStringLiteral("EXPAND"),    QStringLiteral("CHANNELS"),
      QStringLiteral("STARTALL"), QStringLiteral("REGISTER"),  QStringLiteral("REPORTN"),
      QStringLiteral("KEY"),      QStringLiteral("EXCEL"),     QStringLiteral("DATE"),
  };
  return names;
}

int ImageCount() {
  return static_cast<int>(ImageNames().size());
}

int ImageIndexOf(const QString& name) {
  return static_cast<int>(ImageNames().indexOf(name));
}

namespace {

QString ImagePath(int index) {
  return QStringLiteral(":/icons/%1-%2.png").arg(index, 2, 10, QLatin1Char('0')).arg(ImageNames().at(index));
}

}  // namespace

QPixmap ImagePixmap(int index) {
  if (index < 0 || index >= ImageCount()) return {};
  InitResources();
  // Trees repaint often; decode each picture once. QPixmapCache lives and dies with the application,
  // so no pixmap outlives it.
  const QString path = ImagePath(index);
  QPixmap pixmap;
  if (!QPixmapCache::find(path, &pixmap)) {
    pixmap.load(path);
    QPixmapCache::insert(path, pixmap);
  }
  return pixmap;
}

QIcon ImageIcon(int index) {
  const QPixmap pixmap = ImagePixmap(index);
  if (pixmap.isNull()) return {};
  return QIcon(pixmap);
}

QIcon ProgramIcon() {
  InitResources();
  QIcon icon;
  icon.addFile(QString::fromLatin1(kProgramIcon32), QSize(32, 32));
  icon.addFile(QString::fromLatin1(kProgramIcon48), QSize(48, 48));
  return icon;
}

}  // namespace vexa
