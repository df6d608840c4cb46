// vexa-demo: prepares a demonstration installation folder with the program's own code: two plant
// pictures drawn here, channel templates for the simulated network, the settings with simulation
// on, and value labels on the searched network.
//
//   vexa-demo prepare DIR            pictures, Config/REGISTRY.cfg and Config/SETUP.cfg
//   vexa-demo labels DIR             labels on a few registers of DIR/Config/NET.cfg (after a search)
//   vexa-demo big-net DIR COUNT      a NET.cfg of about COUNT registers, for start-up measurements

#include <QDir>
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <cstdio>
#include <memory>
#include <vector>

#include "core/CustomComm.h"
#include "core/CustomRegister.h"
#include "core/ImageIndex.h"
#include "core/Network.h"
#include "core/RegisterNode.h"
#include "core/Services.h"
#include "core/SimulatedNetwork.h"
#include "reports/model/ReportNode.h"
#include "reports/model/ReportTick.h"
#include "storage/FolderLock.h"
#include "storage/NetDescription.h"
#include "storage/TreeFiles.h"
#include "ui/model/LabelDisplay.h"
#include "ui/model/PersistentClasses.h"

namespace vexa::demo {

namespace {

constexpr int kWidth = 640;
constexpr int kHeight = 400;

// A port that is never opened: the demonstration runs in simulation mode.
class TNoPort : public TCustomComm {
 public:
  void Open() override { throw ECommError(QStringLiteral("No port in vexa-demo"), -1); }
  void Close() override {}
  bool Connected() const override { return false; }
  int Write(const uint8_t*, int) override { return -1; }
  int Read(uint8_t*, int) override { return -1; }
  int InQueCount() override { return -1; }
  void PurgeIn() override {}
  void PurgeOut() override {}
  void SetDTR(bool) override {}
  void SetRTS(bool) override {}
};

void Err(const QString& text) {
  std::fprintf(stderr, "vexa-demo: %s\n", qPrintable(text));
}

// --- pictures ----------------------------------------------------------------------------------

struct TCanvas {
  QImage Image{kWidth, kHeight, QImage::Format_RGB32};
  QPainter P;
  TCanvas() {
    Image.fill(QColor(0xF4, 0xF1, 0xE8));
    P.begin(&Image);
    P.setRenderHint(QPainter::Antialiasing);
    QFont f(QStringLiteral("DejaVu Sans"));
    f.setPixelSize(12);
    P.setFont(f);
  }
  void Title(const QString& text) {
    QFont f = P.font();
    f.setPixelSize(16);
    f.setBold(true);
    P.save();
    P.setFont(f);
    P.setPen(QColor(0x30, 0x30, 0x30));
    P.drawText(QRect(0, 8, kWidth, 24), Qt::AlignHCenter, text);
    P.restore();
  }
  void Pipe(const QPolygon& path, const QColor& color) {
    P.save();
    P.setPen(QPen(color.darker(140), 9, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    P.drawPolyline(path);
    P.setPen(QPen(color, 6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    P.drawPolyline(path);
    P.restore();
  }
  void Vessel(const QRect& r, const QColor& color, const QString& name) {
    P.save();
    QLinearGradient g(r.topLeft(), r.topRight());
    g.setColorAt(0, color.lighter(130));
    g.setColorAt(0.5, color);
    g.setColorAt(1, color.darker(130));
    P.setBrush(g);
    P.setPen(QPen(QColor(0x40, 0x40, 0x40), 2));
    P.drawRoundedRect(r, 14, 14);
    P.setPen(Qt::black);
    P.drawText(QRect(r.left() - 40, r.bottom() + 4, r.width() + 80, 18), Qt::AlignHCenter, name);
    P.restore();
  }
  void Pump(QPoint c, const QString& name) {
    P.save();
    P.setPen(QPen(QColor(0x40, 0x40, 0x40), 2));
    P.setBrush(QColor(0x7C, 0xB3, 0x42));
    P.drawEllipse(c, 18, 18);
    QPolygon tri;
    tri << QPoint(c.x() - 9, c.y() - 12) << QPoint(c.x() + 13, c.y()) << QPoint(c.x() - 9, c.y() + 12);
    P.setBrush(Qt::white);
    P.drawPolygon(tri);
    P.setPen(Qt::black);
    P.drawText(QRect(c.x() - 50, c.y() + 22, 100, 18), Qt::AlignHCenter, name);
    P.restore();
  }
  void Valve(QPoint c) {
    P.save();
    P.setPen(QPen(QColor(0x40, 0x40, 0x40), 2));
    P.setBrush(QColor(0xE5, 0x39, 0x35));
    QPolygon bow;
    bow << QPoint(c.x() - 10, c.y() - 8) << QPoint(c.x() + 10, c.y() + 8) << QPoint(c.x() + 10, c.y() - 8)
        << QPoint(c.x() - 10, c.y() + 8);
    P.drawPolygon(bow);
    P.restore();
  }
  void Flame(QPoint c) {
    P.save();
    QPainterPath path;
    path.moveTo(c.x(), c.y() - 22);
    path.cubicTo(c.x() + 16, c.y() - 6, c.x() + 12, c.y() + 10, c.x(), c.y() + 10);
    path.cubicTo(c.x() - 12, c.y() + 10, c.x() - 16, c.y() - 6, c.x(), c.y() - 22);
    P.setPen(Qt::NoPen);
    P.setBrush(QColor(0xFF, 0x8F, 0x00));
    P.drawPath(path);
    P.restore();
  }
};

QImage BoilerHouse() {
  TCanvas c;
  c.Title(QStringLiteral("Котельная: контуры отопления"));
  const QColor hot(0xD3, 0x2F, 0x2F), cold(0x19, 0x76, 0xD2);
  c.Pipe(QPolygon({QPoint(150, 120), QPoint(330, 120), QPoint(330, 90), QPoint(560, 90)}), hot);
  c.Pipe(QPolygon({QPoint(560, 320), QPoint(330, 320), QPoint(330, 290), QPoint(150, 290)}), cold);
  c.Pipe(QPolygon({QPoint(560, 90), QPoint(590, 90), QPoint(590, 320), QPoint(560, 320)}), hot);
  c.Pipe(QPolygon({QPoint(420, 90), QPoint(420, 160)}), hot);
  c.Pipe(QPolygon({QPoint(460, 250), QPoint(460, 320)}), cold);
  c.Vessel(QRect(60, 100, 90, 210), QColor(0x90, 0xA4, 0xAE), QStringLiteral("Котел №1"));
  c.Flame(QPoint(105, 270));
  c.Vessel(QRect(380, 160, 120, 90), QColor(0xB0, 0xBE, 0xC5), QStringLiteral("Теплообменник"));
  c.Pump(QPoint(250, 290), QStringLiteral("Насос сетевой"));
  c.Valve(QPoint(530, 90));
  c.Valve(QPoint(530, 320));
  c.P.drawText(QRect(500, 60, 120, 18), Qt::AlignLeft, QStringLiteral("Подача"));
  c.P.drawText(QRect(500, 330, 120, 18), Qt::AlignLeft, QStringLiteral("Обратка"));
  c.P.end();
  return c.Image;
}

QImage PumpStation() {
  TCanvas c;
  c.Title(QStringLiteral("Насосная станция"));
  const QColor water(0x03, 0x9B, 0xE5);
  c.Pipe(QPolygon({QPoint(130, 300), QPoint(230, 300)}), water);
  c.Pipe(QPolygon({QPoint(270, 300), QPoint(360, 300), QPoint(360, 140), QPoint(460, 140)}), water);
  c.Pipe(QPolygon({QPoint(560, 200), QPoint(600, 200), QPoint(600, 360), QPoint(40, 360), QPoint(40, 300),
                   QPoint(70, 300)}),
         water.darker(120));
  c.Vessel(QRect(60, 180, 70, 140), QColor(0x81, 0xD4, 0xFA), QStringLiteral("Резервуар"));
  c.Pump(QPoint(250, 300), QStringLiteral("Насос №1"));
  c.Vessel(QRect(460, 100, 100, 130), QColor(0xB3, 0xE5, 0xFC), QStringLiteral("Напорный бак"));
  c.Valve(QPoint(360, 220));
  c.P.end();
  return c.Image;
}

// --- configuration -----------------------------------------------------------------------------

// A channel template of the simulated network's channel type, from the table vexa-sim and the
// built-in simulator answer by, so the demonstration reads the same registers on a line.
TRootNode* AddTemplate(TRootNode& registry, int channelType) {
  const TSimChannelDef def = SimulatedChannel(channelType);
  auto* channel = new TRootNode(&registry);  // owned by the templates' root
  channel->SetCaption(QString::asprintf("%03d", channelType));
  channel->SetComments(QString::fromUtf8(def.Comments));
  channel->SetImageIndex(iiCHANNEL);
  auto* id = new TRegisterNode(channel);
  id->SetCaption(QStringLiteral("Регистр-идентификатор"));
  id->SetRegisterType(rtBYTE);
  id->SetImageIndex(iiREGISTER);
  id->SetVisible(false);
  for (const TSimRegisterDef& d : def) {
    auto* reg = new TRegisterNode(channel);
    ApplySimulatedRegister(*reg, d);
    reg->SetImageIndex(iiREGISTER);
  }
  return channel;
}

int Prepare(TNetwork& network) {
  const QString& dir = network.Dir();
  QDir().mkpath(dir + QStringLiteral("/Config"));
  QDir().mkpath(dir + QStringLiteral("/Archives"));
  QDir().mkpath(dir + QStringLiteral("/Pictures"));
  const QString boiler = dir + QStringLiteral("/Pictures/boiler-house.png");
  const QString pumps = dir + QStringLiteral("/Pictures/pump-station.bmp");
  if (!BoilerHouse().save(boiler, "PNG") || !PumpStation().save(pumps, "BMP")) {
    Err(QStringLiteral("cannot write the pictures into %1/Pictures").arg(dir));
    return 1;
  }

  // Channel type 0: the temperature loops of address 0; type 1: the pressure channels of address 1.
  AddTemplate(*network.Registry(), 0);
  AddTemplate(*network.Registry(), 1);
  if (!SaveTreeFile(network, *network.Registry())) {
    Err(QStringLiteral("cannot write %1").arg(ConfigFilePath(dir, QStringLiteral("REGISTRY"))));
    return 1;
  }

  // Only kept in the settings (no port is opened here); COM1 is the simulator's link in the demo
  // folder.
  TSetupNode* const setup = network.Setup().get();
  setup->SetPortIndex(0);
  setup->SetBaudRateIndex(3);
  setup->SetDemo(true);
  setup->SetAutoLoadEnabled(true);
  setup->SetTablesDir(dir);
  setup->SetMNames({QStringLiteral("Котельная"), QStringLiteral("Насосная станция")});
  setup->SetMFiles({boiler, pumps});
  if (!SaveTreeFile(network, *setup)) {
    Err(QStringLiteral("cannot write %1").arg(ConfigFilePath(dir, QStringLiteral("SETUP"))));
    return 1;
  }
  return 0;
}

struct TLabelDef {
  const char* Register;
  const char* Page;
  int Left;
  int Top;
  const char* Units;
};

// The hour before the demonstration starts, as the poller would have logged it every 3 s: values
// wandering in the simulated regulator's band (setpoints flat at its start), so the history
// window and the printout have something to show at once.
void PastHour(TRegisterNode& reg) {
  const int address = reg.Name().mid(1, 3).toInt();
  const bool floating = reg.RegisterType() == rtFLOAT;
  const TBand& band = SimulatedBand(reg.RegisterType(), address);
  double value = floating ? (kFloatHigh + kFloatLow) / 2 : band.Start;
  double scale = 1;
  for (int i = 0; i < reg.Digits(); ++i) scale *= 10;
  TRandomGenerator random;
  random.Seed(static_cast<uint32_t>(qHash(reg.Name())));
  QStringList times, values;
  const int count = reg.MaxCount();
  for (int i = 0; i < count; ++i) {
    // A setpoint stands where it is, as the simulators keep it; measured values wander.
    if (!reg.UserCanWRITE()) value += random.Next(3) - 1;
    value =
        floating ? ClampSimulatedFloat(value) : static_cast<double>(band.Clamp(static_cast<int64_t>(value)));
    times << DateTimeToStr(Now() - (count - i) * 3 / kSecondsPerDay);
    values << (floating ? FormatFixed(value, reg.Digits()) : FormatFixed(value / scale, reg.Digits()));
  }
  reg.SetPoints(times);
  reg.SetDataList(values);
}

// A finished shift report of the boiler house's first registers over the last ten minutes of that
// hour, archived as the report tick archives it: the archive window and the preview have a run to show.
bool SampleArchive(const QString& folder, const std::vector<TRegisterNode*>& regs) {
  constexpr int samples = 200;
  TReportNode report(nullptr);
  report.SetCaption(QStringLiteral("Котельная"));
  report.SetHeader({QStringLiteral("Котельная: температуры и мощность"), QStringLiteral("Сменный отчет")});
  report.SetFooter({QStringLiteral("Дежурный оператор: ______________")});
  report.SetMaxCount(samples);
  for (TRegisterNode* reg : regs) {
    auto* copy = new TRegisterNode(&report);  // owned by the report
    copy->Assign(*reg);
    copy->SetCaption(NodeFullName(*reg));
    copy->SetImageIndex(iiREPORTN);
    copy->SetPoints(reg->Points().ToStringList().mid(reg->Count() - samples));
    copy->SetDataList(reg->DataList().ToStringList().mid(reg->Count() - samples));
    copy->SetMaxCount(samples);
  }
  report.SetStartPoint(Now() - samples * 3 / kSecondsPerDay);
  report.SetLastPoint(Now());
  return ArchiveReport(folder, report);
}

int Labels(TNetwork& network) {
  std::unique_ptr<TRootNode>& netRoot = network.Net();
  LoadTreeFile(network, netRoot);
  std::vector<TRegisterNode*> boilerHouse;
  const TLabelDef defs[] = {
      {"D000C000R001", "ts0", 160, 150, "°C"},   {"D000C000R002", "ts0", 160, 172, "°C"},
      {"D000C000R003", "ts0", 160, 220, "%"},    {"D000C001R001", "ts0", 390, 110, "°C"},
      {"D000C002R001", "ts0", 330, 340, "°C"},   {"D001C000R001", "ts1", 300, 240, "бар"},
      {"D001C000R003", "ts1", 380, 110, "м³/ч"}, {"D001C001R001", "ts1", 455, 262, "бар"},
  };
  int placed = 0;
  for (const TLabelDef& d : defs) {
    auto* reg = dynamic_cast<TRegisterNode*>(FindNode(netRoot.get(), QString::fromLatin1(d.Register)));
    if (reg == nullptr || reg->ComponentCount() > 0) continue;
    // As the operator's drop places it, then the units typed in its properties.
    TLabelDisplay* label = PlaceLabel(*reg, QString::fromLatin1(d.Page), d.Left, d.Top);
    if (label == nullptr) continue;
    label->SetUnits(QString::fromUtf8(d.Units));
    PastHour(*reg);
    if (QLatin1String(d.Page) == QLatin1String("ts0") && boilerHouse.size() < 3) boilerHouse.push_back(reg);
    ++placed;
  }
  if (placed == 0) {
    Err(QStringLiteral("no register of the demonstration network found in %1")
            .arg(ConfigFilePath(network.Dir(), QStringLiteral("NET"))));
    return 1;
  }
  if (!SampleArchive(network.Dir(), boilerHouse)) {
    Err(QStringLiteral("cannot write the sample archive into %1/Archives").arg(network.Dir()));
    return 1;
  }
  return SaveTreeFile(network, *netRoot) ? 0 : 1;
}

// Regulators of 4 channels with 40 registers each, until about `count` registers exist.
int BigNet(TNetwork& network, int count) {
  std::unique_ptr<TRootNode>& netRoot = network.Net();
  for (int a = 0; a < 256 && count > 0; ++a) {
    auto* regulator = new TRootNode(netRoot.get());
    regulator->SetName(QStringLiteral("D%1").arg(a, 3, 10, QLatin1Char('0')));
    regulator->SetCaption(QStringLiteral("Регулятор %1").arg(a, 3, 10, QLatin1Char('0')));
    regulator->SetImageIndex(iiREGULATOR);
    for (int c = 0; c < 4 && count > 0; ++c) {
      auto* channel = new TRootNode(regulator);
      channel->SetName(regulator->Name() + QStringLiteral("C%1").arg(c, 3, 10, QLatin1Char('0')));
      channel->SetCaption(QStringLiteral("Канал %1").arg(c, 3, 10, QLatin1Char('0')));
      channel->SetImageIndex(iiCHANNEL);
      for (int r = 0; r < 40 && count > 0; ++r, --count) {
        auto* reg = new TRegisterNode(channel);
        reg->SetName(TCustomRegister::RegisterName(a, c, r));
        reg->SetCaption(QStringLiteral("Регистр %1").arg(r, 3, 10, QLatin1Char('0')));
        reg->SetImageIndex(iiREGISTER);
        reg->SetRegisterType(r == 0 ? rtBYTE : rtINT);
        reg->SetVisible(r != 0);
      }
    }
  }
  return SaveTreeFile(network, *netRoot) ? 0 : 1;
}

int Usage() {
  std::fputs(
      "Usage: vexa-demo prepare DIR | labels DIR | big-net DIR COUNT\n"
      "  prepare  pictures, channel templates and settings (simulation on) of a demonstration folder\n"
      "  labels   value labels on registers of DIR/Config/NET.cfg\n"
      "  big-net  a network of about COUNT registers in DIR/Config/NET.cfg\n",
      stderr);
  return 2;
}

}  // namespace

}  // namespace vexa::demo

int main(int argc, char** argv) {
  using namespace vexa;
  RegisterPersistentClasses();
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);
  const QStringList args = app.arguments().mid(1);
  if (args.size() < 2) return demo::Usage();
  const QString dir = QDir(args[1]).absolutePath();
  QDir().mkpath(dir + QStringLiteral("/Config"));
  // It writes the folder: never beside another writer.
  TFolderLock lock;
  switch (lock.Take(dir, QStringLiteral("vexa-demo"))) {
    case TFolderLock::TOutcome::Busy:
      demo::Err(FolderBusyText(dir, lock.Holder()));
      return 1;
    case TFolderLock::TOutcome::Unavailable:
      demo::Err(FolderLockFailedText(dir, lock.Why()));
      return 1;
    case TFolderLock::TOutcome::Taken:
      break;
  }
  TNetwork network(dir, std::make_unique<demo::TNoPort>());
  int rc = 2;
  try {
    if (args[0] == QLatin1String("prepare") && args.size() == 2) {
      rc = demo::Prepare(network);
    } else if (args[0] == QLatin1String("labels") && args.size() == 2) {
      rc = demo::Labels(network);
    } else if (args[0] == QLatin1String("big-net") && args.size() == 3) {
      bool ok = false;
      const int count = args[2].toInt(&ok);
      rc = ok && count > 0 ? demo::BigNet(network, count) : demo::Usage();
    } else {
      rc = demo::Usage();
    }
  } catch (const std::exception& e) {
    demo::Err(QString::fromUtf8(e.what()));
    rc = 1;
  }
  return rc;
}
