// A large plant: 250 regulators of 200 registers each (50,000), 5,000 of them enabled with
// 1200-entry histories. Measures the saved state's save, the program's start-up to its main window
// shown with that state restored, the structure window's tree, and the poller's own CPU while the
// 5,000 registers are polled in simulation. A timed tool run, not a test (tests/bench/scale_bench.sh).

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QImage>
#include <QTemporaryDir>
#include <QTimer>
#include <QWindow>
#include <cstdio>
#include <cstdlib>

#include "core/Comm.h"
#include "core/ExecuterUnit.h"
#include "core/Network.h"
#include "core/RegisterNode.h"
#include "core/Services.h"
#include "storage/NetworkState.h"
#include "storage/TreeFiles.h"
#include "tests/bench/Must.h"
#include "ui/MainUnit.h"
#include "ui/app/Program.h"
#include "ui/config/NetUnit.h"
#include "ui/model/PersistentClasses.h"

using namespace vexa;

namespace {

constexpr int kRegulators = 250;
constexpr int kChannels = 4;
constexpr int kRegistersPerChannel = 50;
constexpr int kWithHistory = 5000;

double Ms(const QElapsedTimer& t) {
  return static_cast<double>(t.nsecsElapsed()) / 1e6;
}

void RunFor(int ms) {
  QEventLoop loop;
  QTimer::singleShot(ms, &loop, &QEventLoop::quit);
  loop.exec();
}

// The network of the plant, every 10th register enabled with a full history.
void BuildPlant(TNetwork& network) {
  int withHistory = 0;
  QStringList points, data;
  for (int k = 0; k < 1200; ++k) {
    points << DateTimeToStr(46363.5 + k * 3.0 / kSecondsPerDay);
    data << FormatFixed(100 + k * 0.1, 1);
  }
  for (int d = 0; d < kRegulators; ++d) {
    auto* dev = new TRootNode(network.Net().get());  // owned by NET
    dev->SetName(QStringLiteral("D%1").arg(d, 3, 10, QLatin1Char('0')));
    dev->SetCaption(QStringLiteral("Регулятор %1").arg(d));
    for (int c = 0; c < kChannels; ++c) {
      auto* ch = new TRootNode(dev);
      ch->SetName(dev->Name() + QStringLiteral("C%1").arg(c, 3, 10, QLatin1Char('0')));
      ch->SetCaption(QStringLiteral("Канал %1").arg(c + 1));
      for (int r = 0; r < kRegistersPerChannel; ++r) {
        auto* reg = new TRegisterNode(ch);
        reg->SetName(TCustomRegister::RegisterName(d, c, r));
        reg->SetCaption(QStringLiteral("Параметр %1").arg(r));
        reg->SetRegisterType(rtFLOAT);
        reg->SetLastStringData(QStringLiteral("123,4"));
        if (withHistory < kWithHistory && r % 10 == 0) {
          ++withHistory;
          reg->SetEnabled(true);
          reg->SetPoints(points);
          reg->SetDataList(data);
        }
      }
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  RegisterPersistentClasses();
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  const int pollSeconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20;
  QTemporaryDir dir;
  QDir(dir.path()).mkpath(QStringLiteral("Config"));
  double saveMs = 0;
  {
    TNetwork writer(dir.path(), nullptr);
    BuildPlant(writer);
    QImage picture(800, 600, QImage::Format_RGB32);
    picture.fill(Qt::white);
    picture.save(dir.filePath(QStringLiteral("plant.png")));
    TSetupNode& setup = *writer.Setup();
    setup.SetDemo(true);
    setup.SetAutoLoadEnabled(true);
    setup.SetMNames({QStringLiteral("Цех")});
    setup.SetMFiles({dir.filePath(QStringLiteral("plant.png"))});
    MustSucceed(SaveNetworkState(writer));
    QElapsedTimer t;
    t.start();
    MustSucceed(SaveNetworkState(writer));
    saveMs = Ms(t);
  }
  qint64 bytes = 0;
  for (const QFileInfo& f : QDir(dir.filePath(QStringLiteral("Config"))).entryInfoList(QDir::Files))
    bytes += f.size();
  std::printf("plant: %d registers, %d enabled with 1200-entry histories; state files %.1f MiB\n",
              kRegulators * kChannels * kRegistersPerChannel, kWithHistory,
              static_cast<double>(bytes) / (1024.0 * 1024.0));

  // The program as main starts it, up to its main window on the screen with the state restored.
  QElapsedTimer startUp;
  startUp.start();
  TProgram program(dir.path());
  program.InitCore(std::make_unique<TComm>(dir.path()));
  program.SetInstancePerFolder(true);
  if (!program.Start()) {
    std::fprintf(stderr, "scale_bench: the program did not start\n");
    return 1;
  }
  program.MainForm()->show();
  while (program.MainForm()->windowHandle() == nullptr || !program.MainForm()->windowHandle()->isExposed())
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
  const double startMs = Ms(startUp);
  TNetwork& network = *program.Network();
  if (network.Net()->ComponentCount() != kRegulators) {
    std::fprintf(stderr, "scale_bench: the state was not restored\n");
    return 1;
  }

  // The structure window's tree, built from the whole network.
  double treeMs = 0;
  {
    TNetForm tree(network);
    QElapsedTimer t;
    t.start();
    tree.Rebuild();
    treeMs = Ms(t);
  }

  // The poller's own thread while the enabled registers are polled in simulation.
  network.StartPoller();
  RunFor(2000);
  const double cpu0 = network.Executer()->ThreadCpuSeconds();
  QElapsedTimer wall;
  wall.start();
  RunFor(pollSeconds * 1000);
  const double pollerShare = (network.Executer()->ThreadCpuSeconds() - cpu0) / (Ms(wall) / 1000.0);

  const auto verdict = [](bool met) { return met ? "met" : "MISSED"; };
  std::printf("save of the state:             %8.1f ms (goal < 1000 ms): %s\n", saveMs,
              verdict(saveMs < 1000));
  std::printf("start-up to the window shown:  %8.1f ms (goal < 2000 ms): %s\n", startMs,
              verdict(startMs < 2000));
  std::printf("structure window's tree:       %8.1f ms (goal < 300 ms): %s\n", treeMs, verdict(treeMs < 300));
  std::printf("poller's own CPU (%d s):       %8.2f %% of one core (goal < 5 %%): %s\n", pollSeconds,
              pollerShare * 100, verdict(pollerShare < 0.05));
  program.Shutdown();
  return 0;
}
