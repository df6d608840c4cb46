// Network state save and load against one plain file write and read of the same number of bytes:
// time and extra peak memory of each, as ratios. A timed tool run, not a test (tests/bench/state_bench.sh).

#include <malloc.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <cstdio>
#include <fstream>
#include <string>

#include "core/ExecuterUnit.h"
#include "core/Network.h"
#include "core/RegisterNode.h"
#include "core/Services.h"
#include "storage/NetworkState.h"
#include "ui/model/PersistentClasses.h"

using namespace vexa;

namespace {

long StatusKb(const char* key) {
  std::ifstream in("/proc/self/status");
  std::string line;
  while (std::getline(in, line))
    if (line.rfind(key, 0) == 0) return std::stol(line.substr(std::string(key).size()));
  return -1;
}

// Peak resident memory above the level before `work`, in MiB, and its duration in ms.
template <class F>
std::pair<double, double> Measure(F work) {
  malloc_trim(0);  // freed heap kept from an earlier step would hide this step's growth
  { std::ofstream("/proc/self/clear_refs") << "5"; }  // resets the high-water mark
  const long before = StatusKb("VmRSS:");
  QElapsedTimer t;
  t.start();
  work();
  const double ms = static_cast<double>(t.nsecsElapsed()) / 1e6;
  const long peak = StatusKb("VmHWM:");
  return {ms, static_cast<double>(peak - before) / 1024.0};
}

void BuildNetwork(TNetwork& network) {
  int withHistory = 0;
  for (int d = 0; d < 30; ++d) {
    auto* dev = new TRootNode(network.Net().get());
    dev->SetName(QStringLiteral("D%1").arg(d, 3, 10, QLatin1Char('0')));
    dev->SetCaption(QStringLiteral("Регулятор %1").arg(d));
    for (int c = 0; c < 4; ++c) {
      auto* ch = new TRootNode(dev);
      ch->SetName(dev->Name() + QStringLiteral("C%1").arg(c, 3, 10, QLatin1Char('0')));
      for (int r = 0; r < 40; ++r) {
        auto* reg = new TRegisterNode(ch);
        reg->SetName(TCustomRegister::RegisterName(d, c, r));
        reg->SetCaption(QStringLiteral("Параметр %1").arg(r));
        reg->SetRegisterType(rtFLOAT);
        reg->SetLastStringData(QStringLiteral("123,4"));
        if (withHistory < 500 && r % 9 == 0) {
          ++withHistory;
          QStringList points, data;
          for (int k = 0; k < 1200; ++k) {
            points << DateTimeToStr(46363.5 + k * 3.0 / 86400);
            data << FormatFixed(100 + k * 0.1, 1);
          }
          reg->SetPoints(points);
          reg->SetDataList(data);
        }
      }
    }
  }
  std::printf("network: 30 x 4 x 40 = 4800 registers, %d with 1200-entry histories\n", withHistory);
}

qint64 StateBytes(const TNetwork& network) {
  qint64 total = 0;
  for (const QFileInfo& f : QDir(network.Dir() + "/Config").entryInfoList(QDir::Files)) total += f.size();
  return total;
}

}  // namespace

int main(int argc, char** argv) {
  vexa::RegisterPersistentClasses();
  QCoreApplication app(argc, argv);
  QTemporaryDir dir;
  QDir(dir.path()).mkpath("Config");
  TNetwork network(dir.path(), nullptr);
  BuildNetwork(network);

  const int rounds = 3;
  double saveMs = 1e18, saveMb = 0, loadMs = 1e18, loadMb = 0, writeMs = 1e18, writeMb = 0, readMs = 1e18,
         readMb = 0;
  qint64 bytes = 0;
  for (int i = 0; i < rounds; ++i) {
    auto [ms, mb] = Measure([&] { SaveNetworkState(network); });
    saveMs = std::min(saveMs, ms);
    saveMb = std::max(saveMb, mb);
    bytes = StateBytes(network);
    const QString plain = dir.filePath("plain.bin");
    auto [wms, wmb] = Measure([&] {
      QByteArray buffer(bytes, 'x');
      QFile f(plain);
      f.open(QIODevice::WriteOnly | QIODevice::Truncate);
      f.write(buffer);
      f.flush();
      ::fsync(f.handle());  // the state save makes its files durable too
    });
    writeMs = std::min(writeMs, wms);
    writeMb = std::max(writeMb, wmb);
    auto [lms, lmb] = Measure([&] { LoadNetworkState(network); });
    network.StopPoller();
    loadMs = std::min(loadMs, lms);
    loadMb = std::max(loadMb, lmb);
    auto [rms, rmb] = Measure([&] {
      QFile f(plain);
      f.open(QIODevice::ReadOnly);
      const QByteArray all = f.readAll();
      if (all.size() != bytes) std::abort();
    });
    readMs = std::min(readMs, rms);
    readMb = std::max(readMb, rmb);
  }
  std::printf("state files: %.1f MiB\n", static_cast<double>(bytes) / (1024.0 * 1024.0));
  std::printf(
      "SaveNetworkState  %8.1f ms %7.1f MiB | plain write %7.1f ms %6.1f MiB | ratio time %.2f memory %.2f\n",
      saveMs, saveMb, writeMs, writeMb, saveMs / writeMs, saveMb / writeMb);
  std::printf(
      "LoadNetworkState  %8.1f ms %7.1f MiB | plain read  %7.1f ms %6.1f MiB | ratio time %.2f memory %.2f\n",
      loadMs, loadMb, readMs, readMb, loadMs / readMs, loadMb / readMb);
  return 0;
}
