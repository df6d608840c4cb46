// Makes the program's pictures: the 45 images of the shared image list, the program icon, the
// built-in diagram picture and the wait window's splash. Images that the Tango theme (public domain)
// has are copied from it; the ones it lacks (regulators, channels, registers, cyclograms, the
// process state signs, the key) are drawn here so that they share the theme's palette.
//
// Output is committed; run resources/tools/generate.sh after changing this file.
//   usage: vexa-picturegen TANGO_16x16_DIR OUTPUT_RESOURCES_DIR

#include <QColor>
#include <QDir>
#include <QFile>
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>
#include <QRadialGradient>
#include <QStringList>
#include <QTextStream>
#include <cmath>
#include <cstdio>
#include <functional>
#include <map>

namespace {

// Tango palette.
const QColor kButter1(0xfc, 0xe9, 0x4f), kButter2(0xed, 0xd4, 0x00), kButter3(0xc4, 0xa0, 0x00);
const QColor kOrange1(0xfc, 0xaf, 0x3e), kOrange3(0xce, 0x5c, 0x00);
const QColor kChameleon1(0x8a, 0xe2, 0x34), kChameleon2(0x73, 0xd2, 0x16), kChameleon3(0x4e, 0x9a, 0x06);
const QColor kSky1(0x72, 0x9f, 0xcf), kSky2(0x34, 0x65, 0xa4), kSky3(0x20, 0x4a, 0x87);
const QColor kScarlet1(0xef, 0x29, 0x29), kScarlet2(0xcc, 0x00, 0x00), kScarlet3(0xa4, 0x00, 0x00);
const QColor kAlum1(0xee, 0xee, 0xec), kAlum2(0xd3, 0xd7, 0xcf), kAlum3(0xba, 0xbd, 0xb6);
const QColor kAlum4(0x88, 0x8a, 0x85), kAlum5(0x55, 0x57, 0x53), kAlum6(0x2e, 0x34, 0x36);

QString gTango;

QImage Blank(int size) {
  QImage img(size, size, QImage::Format_ARGB32_Premultiplied);
  img.fill(Qt::transparent);
  return img;
}

QImage Tango(const QString& relative) {
  QImage img(gTango + QLatin1Char('/') + relative);
  if (img.isNull()) {
    std::fprintf(stderr, "missing theme picture %s\n", qPrintable(relative));
    std::exit(1);
  }
  return img.convertToFormat(QImage::Format_ARGB32_Premultiplied);
}

struct Painter : QPainter {
  explicit Painter(QImage* img) : QPainter(img) { setRenderHint(QPainter::Antialiasing); }
};

QLinearGradient Vertical(double y0, double y1, const QColor& a, const QColor& b) {
  QLinearGradient g(0, y0, 0, y1);
  g.setColorAt(0, a);
  g.setColorAt(1, b);
  return g;
}

// Outline pens sit on half pixels so 1-pixel edges stay sharp.
QPen Edge(const QColor& c, double w = 1.0) {
  QPen p(c, w);
  p.setJoinStyle(Qt::MiterJoin);
  return p;
}

void Triangle(QPainter& p, QPointF a, QPointF b, QPointF c, const QColor& fill, const QColor& light,
              const QColor& edge) {
  QPolygonF poly{a, b, c};
  QLinearGradient g(a, c);
  g.setColorAt(0, light);
  g.setColorAt(1, fill);
  p.setBrush(g);
  p.setPen(Edge(edge));
  p.drawPolygon(poly);
}

void Sheet(QPainter& p, QRectF r) {
  p.setPen(Edge(kAlum4));
  p.setBrush(Vertical(r.top(), r.bottom(), Qt::white, kAlum1));
  p.drawRect(r);
}

// A cyclogram: a programme of set points, ramps between plateaus.
void Cyclogram(QPainter& p, QRectF sheet) {
  Sheet(p, sheet);
  const double l = sheet.left() + 2, b = sheet.bottom() - 2, t = sheet.top() + 2, r = sheet.right() - 2;
  p.setPen(Edge(kAlum4));
  p.drawLine(QPointF(l, t), QPointF(l, b));
  p.drawLine(QPointF(l, b), QPointF(r, b));
  const double w = r - l, h = b - t;
  QPolygonF curve{{l, b - h * 0.15},
                  {l + w * 0.25, t + h * 0.2},
                  {l + w * 0.55, t + h * 0.2},
                  {l + w * 0.75, b - h * 0.45},
                  {r, b - h * 0.45}};
  QPen pen(kScarlet2, 1.3);
  pen.setJoinStyle(Qt::RoundJoin);
  p.setPen(pen);
  p.setBrush(Qt::NoBrush);
  p.drawPolyline(curve);
}

void PlayTriangle(QPainter& p, QRectF r) {
  Triangle(p, r.topLeft(), QPointF(r.right(), r.center().y()), r.bottomLeft(), kChameleon2, kChameleon1,
           kChameleon3);
}

void GreenPlusBadge(QPainter& p, QPointF centre) {
  p.setPen(Edge(kChameleon3));
  p.setBrush(kChameleon2);
  p.drawEllipse(centre, 3.6, 3.6);
  p.setPen(QPen(Qt::white, 1.4));
  p.drawLine(centre + QPointF(-2, 0), centre + QPointF(2, 0));
  p.drawLine(centre + QPointF(0, -2), centre + QPointF(0, 2));
}

// A row of bit cells, the sign of one register.
void RegisterCell(QPainter& p, QRectF r) {
  p.setPen(Edge(kButter3));
  p.setBrush(Vertical(r.top(), r.bottom(), kButter1, kButter2));
  p.drawRoundedRect(r, 1.5, 1.5);
  const double cw = (r.width() - 3) / 3.0;
  for (int i = 0; i < 3; ++i) {
    QRectF cell(r.left() + 1.5 + i * cw + 0.5, r.top() + 2, cw - 1, r.height() - 4);
    p.setPen(Edge(kAlum6, 0.8));
    p.setBrush(i == 1 ? QColor(Qt::white) : kSky3);
    p.drawRect(cell);
  }
}

// One input of a regulator: a terminal pin and a module with a signal trace.
void ChannelModule(QPainter& p, QRectF r, bool trace) {
  p.setPen(Edge(kAlum5));
  p.setBrush(Vertical(r.top(), r.bottom(), Qt::white, kAlum2));
  p.drawRect(r);
  p.setPen(QPen(kAlum6, 1.2));
  p.drawLine(QPointF(0.5, r.center().y()), QPointF(r.left(), r.center().y()));
  p.setBrush(kAlum6);
  p.drawEllipse(QPointF(1.2, r.center().y()), 1.0, 1.0);
  if (trace) {
    QPainterPath wave;
    const double x0 = r.left() + 1.5, x1 = r.right() - 1.5, y = r.center().y(), a = r.height() / 2 - 1.8;
    wave.moveTo(x0, y);
    for (double x = x0; x <= x1; x += 0.25) wave.lineTo(x, y - a * std::sin((x - x0) / (x1 - x0) * 2 * M_PI));
    p.setPen(QPen(kOrange3, 1.2));
    p.setBrush(Qt::NoBrush);
    p.drawPath(wave);
  } else {
    p.setPen(QPen(kOrange3, 1.2));
    p.drawLine(QPointF(r.left() + 2, r.center().y()), QPointF(r.right() - 2, r.center().y()));
  }
}

void Magnifier(QPainter& p, bool plus) {
  p.setPen(QPen(kAlum5, 3.0, Qt::SolidLine, Qt::RoundCap));
  p.drawLine(QPointF(10.5, 10.5), QPointF(14.2, 14.2));
  QRadialGradient glass(QPointF(5.2, 5.0), 5.5);
  glass.setColorAt(0, Qt::white);
  glass.setColorAt(1, QColor(0xc8, 0xdc, 0xf0));
  p.setBrush(glass);
  p.setPen(QPen(kAlum5, 1.4));
  p.drawEllipse(QPointF(6.5, 6.5), 5.0, 5.0);
  p.setPen(QPen(kSky3, 1.6));
  p.drawLine(QPointF(4.0, 6.5), QPointF(9.0, 6.5));
  if (plus) p.drawLine(QPointF(6.5, 4.0), QPointF(6.5, 9.0));
}

// Two arrows towards (inward) or away from (outward) a middle bar.
void VerticalArrows(QPainter& p, bool inward) {
  p.setPen(Edge(kAlum5));
  p.setBrush(kAlum3);
  p.drawRect(QRectF(1.5, 7.0, 13, 2));
  auto arrow = [&](double tipY, double baseY) {
    const double dir = tipY > baseY ? 1 : -1;
    QPolygonF poly{{8.0, tipY},  {12.5, tipY - dir * 4}, {9.8, tipY - dir * 4}, {9.8, baseY},
                   {6.2, baseY}, {6.2, tipY - dir * 4},  {3.5, tipY - dir * 4}};
    p.setPen(Edge(kSky3));
    p.setBrush(Vertical(std::min(tipY, baseY), std::max(tipY, baseY), kSky1, kSky2));
    p.drawPolygon(poly);
  };
  if (inward) {
    arrow(6.0, 0.5);
    arrow(10.0, 15.5);
  } else {
    arrow(0.5, 6.0);
    arrow(15.5, 10.0);
  }
}

using Drawer = std::function<QImage()>;

QImage Drawn(int size, const std::function<void(QPainter&)>& draw) {
  QImage img = Blank(size);
  Painter p(&img);
  draw(p);
  return img;
}

QImage Composite(const QString& base, const std::function<void(QPainter&)>& draw) {
  QImage img = Tango(base);
  Painter p(&img);
  draw(p);
  return img;
}

struct Entry {
  const char* name;
  Drawer make;
};

std::vector<Entry> ImageTable() {
  auto tango = [](const char* path) { return [=] { return Tango(QString::fromLatin1(path)); }; };
  return {
      {"DELETE",
       [] {
         return Drawn(16, [](QPainter& p) {
           QPainterPath x;
           x.moveTo(3, 3);
           x.lineTo(13, 13);
           x.moveTo(13, 3);
           x.lineTo(3, 13);
           p.setPen(QPen(kScarlet3, 4.2, Qt::SolidLine, Qt::RoundCap));
           p.drawPath(x);
           p.setPen(QPen(kScarlet1, 2.4, Qt::SolidLine, Qt::RoundCap));
           p.drawPath(x);
         });
       }},
      {"LOOKUP", tango("actions/document-print-preview.png")},
      {"NEW", tango("actions/document-new.png")},
      {"OPEN", tango("actions/document-open.png")},
      {"PRINT", tango("actions/document-print.png")},
      {"SAVE", tango("actions/document-save.png")},
      {"TREE",
       [] {
         return Drawn(16, [](QPainter& p) {
           p.setPen(Edge(kAlum5));
           p.drawLine(QPointF(3.5, 5), QPointF(3.5, 13.5));
           p.drawLine(QPointF(3.5, 8.5), QPointF(8, 8.5));
           p.drawLine(QPointF(3.5, 13.5), QPointF(8, 13.5));
           auto box = [&](QRectF r, const QColor& a, const QColor& b, const QColor& e) {
             p.setPen(Edge(e));
             p.setBrush(Vertical(r.top(), r.bottom(), a, b));
             p.drawRect(r);
           };
           box(QRectF(0.5, 0.5, 6, 5), kSky1, kSky2, kSky3);
           box(QRectF(8.5, 6.5, 6.5, 4), kButter1, kButter2, kButter3);
           box(QRectF(8.5, 11.5, 6.5, 4), kButter1, kButter2, kButter3);
         });
       }},
      {"SEARCH", tango("actions/system-search.png")},
      {"CYCLO", [] { return Drawn(16, [](QPainter& p) { Cyclogram(p, QRectF(1.5, 1.5, 13, 13)); }); }},
      {"EDIT", tango("apps/accessories-text-editor.png")},
      {"PROCESSES", tango("categories/applications-system.png")},
      {"FOLDER", tango("places/folder.png")},
      {"FOLDERO", tango("status/folder-open.png")},
      {"TOBEGIN",
       [] {
         return Drawn(16, [](QPainter& p) {
           p.setPen(Edge(kSky3));
           p.setBrush(Vertical(2, 14, kSky1, kSky2));
           p.drawRect(QRectF(2.5, 2.5, 2.5, 11));
           Triangle(p, QPointF(14, 2.5), QPointF(6, 8), QPointF(14, 13.5), kSky2, kSky1, kSky3);
         });
       }},
      {"PLAY", [] { return Drawn(16, [](QPainter& p) { PlayTriangle(p, QRectF(3.5, 1.5, 11, 13)); }); }},
      {"PAUSE",
       [] {
         return Drawn(16, [](QPainter& p) {
           p.setPen(Edge(kButter3.darker(130)));
           p.setBrush(Vertical(2, 14, kOrange1, kButter3));
           p.drawRect(QRectF(3.5, 2.5, 3.5, 11));
           p.drawRect(QRectF(9.5, 2.5, 3.5, 11));
         });
       }},
      {"STOP",
       [] {
         return Drawn(16, [](QPainter& p) {
           p.setPen(Edge(kScarlet3));
           p.setBrush(Vertical(3, 13, kScarlet1, kScarlet2));
           p.drawRoundedRect(QRectF(2.5, 2.5, 11, 11), 1.5, 1.5);
         });
       }},
      {"RUNTASK",
       [] {
         return Drawn(16, [](QPainter& p) {
           Cyclogram(p, QRectF(0.5, 0.5, 12, 12));
           PlayTriangle(p, QRectF(8.5, 7.5, 7, 8));
         });
       }},
      {"CYCLOS",
       [] {
         return Drawn(16, [](QPainter& p) {
           Sheet(p, QRectF(4.5, 0.5, 11, 11));
           Cyclogram(p, QRectF(0.5, 4.5, 11, 11));
         });
       }},
      {"TABLE",
       [] {
         return Drawn(16, [](QPainter& p) {
           QRectF r(0.5, 1.5, 15, 13);
           p.setPen(Qt::NoPen);
           p.setBrush(Qt::white);
           p.drawRect(r);
           p.setBrush(kSky1);
           p.drawRect(QRectF(0.5, 1.5, 15, 3.5));
           p.setPen(Edge(kAlum3));
           for (double x : {5.5, 10.5}) p.drawLine(QPointF(x, 1.5), QPointF(x, 14.5));
           for (double y : {5.5, 8.5, 11.5}) p.drawLine(QPointF(0.5, y), QPointF(15.5, y));
           p.setPen(Edge(kAlum5));
           p.setBrush(Qt::NoBrush);
           p.drawRect(r);
         });
       }},
      {"COPY", tango("actions/edit-copy.png")},
      {"PASTE", tango("actions/edit-paste.png")},
      {"REGULATOR",
       [] {
         return Drawn(16, [](QPainter& p) {
           p.setPen(Edge(kAlum5));
           p.setBrush(Vertical(1, 15, kAlum1, kAlum3));
           p.drawRoundedRect(QRectF(0.5, 1.5, 15, 13), 1.5, 1.5);
           p.setPen(Edge(kAlum6));
           p.setBrush(QColor(0x1c, 0x2b, 0x1c));
           p.drawRect(QRectF(2.5, 3.5, 11, 5));
           p.setPen(QPen(kChameleon1, 1.0));
           for (double x : {4.0, 6.5, 9.0}) p.drawLine(QPointF(x, 5), QPointF(x + 1.5, 5));
           for (double x : {4.0, 6.5, 9.0}) p.drawLine(QPointF(x, 7), QPointF(x + 1.5, 7));
           p.setPen(Qt::NoPen);
           p.setBrush(kScarlet1);
           p.drawEllipse(QPointF(12.0, 11.5), 1.2, 1.2);
           p.setBrush(kAlum5);
           p.drawRect(QRectF(3, 10.5, 2, 2));
           p.drawRect(QRectF(6, 10.5, 2, 2));
         });
       }},
      {"CHANNEL",
       [] { return Drawn(16, [](QPainter& p) { ChannelModule(p, QRectF(4.5, 3.5, 11, 9), true); }); }},
      {"PLUS", tango("actions/list-add.png")},
      {"REPORT", tango("mimetypes/x-office-document.png")},
      {"REPORTS",
       [] {
         QImage doc = Tango(QStringLiteral("mimetypes/x-office-document.png"));
         return Drawn(16, [&](QPainter& p) {
           p.drawImage(QRectF(4, 0, 12, 12), doc);
           p.drawImage(QRectF(0, 4, 12, 12), doc);
         });
       }},
      {"ARCHIVES", tango("mimetypes/package-x-generic.png")},
      {"LEFT", tango("actions/go-previous.png")},
      {"RIGHT", tango("actions/go-next.png")},
      {"ZOOMIN", [] { return Drawn(16, [](QPainter& p) { Magnifier(p, true); }); }},
      {"ZOOMOUT", [] { return Drawn(16, [](QPainter& p) { Magnifier(p, false); }); }},
      {"REFRESH", tango("actions/view-refresh.png")},
      {"MINUS", tango("actions/list-remove.png")},
      {"ADD",
       [] {
         return Composite(QStringLiteral("mimetypes/text-x-generic.png"),
                          [](QPainter& p) { GreenPlusBadge(p, QPointF(11.5, 11.5)); });
       }},
      {"INSERT",
       [] {
         return Composite(QStringLiteral("mimetypes/text-x-generic.png"), [](QPainter& p) {
           QPolygonF arrow{{0.5, 6.5},  {4.5, 6.5},  {4.5, 4.0}, {9.0, 8.5},
                           {4.5, 13.0}, {4.5, 10.5}, {0.5, 10.5}};
           p.setPen(Edge(kSky3));
           p.setBrush(Vertical(4, 13, kSky1, kSky2));
           p.drawPolygon(arrow);
         });
       }},
      {"COMPRESS", [] { return Drawn(16, [](QPainter& p) { VerticalArrows(p, true); }); }},
      {"EXPAND", [] { return Drawn(16, [](QPainter& p) { VerticalArrows(p, false); }); }},
      {"CHANNELS",
       [] {
         return Drawn(16, [](QPainter& p) {
           ChannelModule(p, QRectF(4.5, 0.5, 11, 4), false);
           ChannelModule(p, QRectF(4.5, 5.5, 11, 4), false);
           ChannelModule(p, QRectF(4.5, 10.5, 11, 4.5), false);
         });
       }},
      {"STARTALL",
       [] {
         return Drawn(16, [](QPainter& p) {
           PlayTriangle(p, QRectF(0.5, 2.5, 7.5, 11));
           PlayTriangle(p, QRectF(7.5, 2.5, 7.5, 11));
         });
       }},
      {"REGISTER", [] { return Drawn(16, [](QPainter& p) { RegisterCell(p, QRectF(0.5, 3.5, 15, 9)); }); }},
      {"REPORTN",
       [] {
         return Composite(QStringLiteral("mimetypes/x-office-document.png"),
                          [](QPainter& p) { RegisterCell(p, QRectF(5.5, 9.5, 10, 6)); });
       }},
      {"KEY",
       [] {
         return Drawn(24, [](QPainter& p) {
           QPainterPath key;
           key.addEllipse(QPointF(6.5, 12), 5.5, 5.5);
           key.addRect(QRectF(11, 10.5, 11.5, 3));
           key.addRect(QRectF(16.5, 13, 2, 4));
           key.addRect(QRectF(20.5, 13, 2, 5));
           key = key.simplified();
           QPainterPath hole;
           hole.addEllipse(QPointF(5.0, 12), 2.0, 2.0);
           key = key.subtracted(hole);
           p.setPen(Edge(kButter3.darker(120)));
           p.setBrush(Vertical(6, 18, kButter1, kButter3));
           p.drawPath(key);
         });
       }},
      {"EXCEL", tango("mimetypes/x-office-spreadsheet.png")},
      {"DATE", tango("mimetypes/x-office-calendar.png")},
  };
}

// Program icon: a regulator's dial.
QImage ProgramIcon(int size) {
  QImage img = Blank(size);
  Painter p(&img);
  p.scale(size / 48.0, size / 48.0);
  p.setPen(QPen(kSky3.darker(130), 1.5));
  p.setBrush(Vertical(0, 48, kSky1, kSky3));
  p.drawRoundedRect(QRectF(1.5, 1.5, 45, 45), 8, 8);
  const QPointF c(24, 27);
  p.setPen(Qt::NoPen);
  p.setBrush(Qt::white);
  p.drawEllipse(c, 17, 17);
  p.setPen(QPen(kAlum6, 2.0, Qt::SolidLine, Qt::FlatCap));
  for (int i = 0; i <= 8; ++i) {
    const double a = (225 - i * 33.75) * M_PI / 180;
    const double r0 = i % 2 ? 12.5 : 11.0;
    p.drawLine(c + QPointF(r0 * std::cos(a), -r0 * std::sin(a)),
               c + QPointF(15 * std::cos(a), -15 * std::sin(a)));
  }
  QPen arc(kScarlet1, 3.0, Qt::SolidLine, Qt::FlatCap);
  p.setPen(arc);
  p.drawArc(QRectF(c.x() - 15, c.y() - 15, 30, 30), -45 * 16, 50 * 16);
  const double a = 60 * M_PI / 180;
  p.setPen(QPen(kScarlet3, 2.6, Qt::SolidLine, Qt::RoundCap));
  p.drawLine(c, c + QPointF(13 * std::cos(a), -13 * std::sin(a)));
  p.setPen(Qt::NoPen);
  p.setBrush(kAlum6);
  p.drawEllipse(c, 3, 3);
  return img;
}

// The built-in diagram picture, shown on a page whose picture file cannot be found, so that a
// missing file never passes for a plant: red text in a red frame on white.
QImage Mnemo() {
  QImage img(250, 30, QImage::Format_RGB32);
  img.fill(Qt::white);
  QPainter p(&img);
  p.setRenderHint(QPainter::TextAntialiasing);
  p.setPen(QPen(Qt::red, 1));
  p.setBrush(Qt::NoBrush);
  p.drawRect(QRect(0, 0, 249, 29));
  QFont font(QStringLiteral("DejaVu Sans"));
  font.setPixelSize(13);
  font.setBold(true);
  p.setFont(font);
  p.drawText(QRect(0, 0, 250, 30), Qt::AlignCenter, QStringLiteral("Файл мнемосхемы не найден!"));
  return img;
}

// Wait window picture; the band below y = 160 stays light for the black status line.
QImage Splash() {
  QImage img(300, 225, QImage::Format_RGB32);
  Painter p(&img);
  QLinearGradient sky(0, 0, 300, 160);
  sky.setColorAt(0, QColor(0x1f, 0x3b, 0x63));
  sky.setColorAt(1, QColor(0x2e, 0x6f, 0x8e));
  p.fillRect(QRectF(0, 0, 300, 160), sky);
  p.fillRect(QRectF(0, 160, 300, 65), kAlum1);
  p.setPen(QPen(kSky1, 2));
  p.drawLine(QPointF(0, 160), QPointF(300, 160));

  p.drawImage(QRectF(222, 24, 64, 64), ProgramIcon(64));

  QFont title(QStringLiteral("DejaVu Sans"));
  title.setPixelSize(40);
  title.setBold(true);
  p.setFont(title);
  p.setPen(Qt::white);
  p.drawText(QPointF(18, 62), QStringLiteral("Vexa"));
  QFont sub(QStringLiteral("DejaVu Sans"));
  sub.setPixelSize(12);
  p.setFont(sub);
  p.setPen(QColor(0xdd, 0xe8, 0xf2));
  p.drawText(QPointF(20, 98), QStringLiteral("Управляющая оболочка для сети"));
  p.drawText(QPointF(20, 115), QStringLiteral("локальных регуляторов"));

  // A strip of trend lines, the program's business.
  QPainterPath trend;
  trend.moveTo(18, 142);
  for (int x = 18; x <= 282; x += 2) trend.lineTo(x, 142 - 6 * std::sin(x / 17.0) - 3 * std::sin(x / 5.3));
  p.setPen(QPen(QColor(0x8a, 0xe2, 0x34, 200), 1.5));
  p.drawPath(trend);
  p.setPen(QPen(QColor(0xfc, 0xaf, 0x3e, 200), 1.5));
  p.drawLine(QPointF(18, 132), QPointF(282, 132));
  p.setPen(QPen(kAlum4, 1));
  p.setBrush(Qt::NoBrush);
  p.drawRect(QRectF(0.5, 0.5, 299, 224));
  return img;
}

bool Save(const QImage& img, const QString& path) {
  if (!img.save(path, "PNG")) {
    std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s TANGO_16x16_DIR OUTPUT_RESOURCES_DIR\n", argv[0]);
    return 2;
  }
  gTango = QString::fromLocal8Bit(argv[1]);
  const QDir out(QString::fromLocal8Bit(argv[2]));
  out.mkpath(QStringLiteral("icons"));
  out.mkpath(QStringLiteral("pictures"));

  bool ok = true;
  const auto table = ImageTable();
  for (size_t i = 0; i < table.size(); ++i) {
    QImage img = table[i].make();
    const int size = qstrcmp(table[i].name, "KEY") == 0 ? 24 : 16;
    if (img.width() != size || img.height() != size) {
      std::fprintf(stderr, "%s is %dx%d\n", table[i].name, img.width(), img.height());
      return 1;
    }
    ok &= Save(img.convertToFormat(QImage::Format_ARGB32),
               out.filePath(QStringLiteral("icons/%1-%2.png")
                                .arg(i, 2, 10, QLatin1Char('0'))
                                .arg(QLatin1String(table[i].name))));
  }
  ok &= Save(ProgramIcon(32).convertToFormat(QImage::Format_ARGB32),
             out.filePath(QStringLiteral("icons/vexa-32.png")));
  ok &= Save(ProgramIcon(48).convertToFormat(QImage::Format_ARGB32),
             out.filePath(QStringLiteral("icons/vexa-48.png")));
  ok &= Save(Mnemo(), out.filePath(QStringLiteral("pictures/MNEMO.png")));
  ok &= Save(Splash(), out.filePath(QStringLiteral("pictures/splash.png")));
  std::printf("%zu images, program icon, MNEMO and splash written to %s\n", table.size(),
              qPrintable(out.path()));
  return ok ? 0 : 1;
}
