#include "ui/parts/ImageList.h"

#include <QPainter>
#include <QPixmapCache>
#include <QPolygonF>

#include "core/ImageIndex.h"

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
  static const QStringList names = [] {
    QStringList list;
    for (const char* name : kImageNames) list << QString::fromLatin1(name);
    return list;
  }();
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

// The alarms' picture: a red warning triangle, drawn since the image list has none.
QIcon AlarmIcon() {
  QPixmap pixmap(16, 16);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(QPen(QColor(128, 0, 0), 1));
  p.setBrush(QColor(230, 30, 30));
  p.drawPolygon(QPolygonF({QPointF(8, 1), QPointF(15, 14.5), QPointF(1, 14.5)}));
  p.setPen(QPen(Qt::white, 2));
  p.drawLine(QPointF(8, 5.5), QPointF(8, 10));
  p.drawPoint(QPointF(8, 12.5));
  return QIcon(pixmap);
}

}  // namespace vexa
