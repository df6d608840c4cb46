// Network state save and load against a plain write and read of the same files (the same bytes,
// the same fsyncs and renames): the time of each as a ratio, and the peak memory each adds
// (resident memory above the level before it) as a multiple of the files' size. A timed tool run,
// not a test (tests/bench/state_bench.sh).

#include <fcntl.h>
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
#include <utility>
#include <vector>

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

// The state files a save wrote, with their bytes.
std::vector<std::pair<QString, QByteArray>> StateFiles(const TNetwork& network) {
  std::vector<std::pair<QString, QByteArray>> files;
  for (const QFileInfo& info : QDir(network.Dir() + "/Config").entryInfoList(QDir::Files)) {
    QFile f(info.filePath());
    if (!f.open(QIODevice::ReadOnly)) std::abort();
    files.emplace_back(info.fileName(), f.readAll());
  }
  return files;
}

// What a save does to the disk without the work of a save: each file replaced as a state file is,
// its bytes written to a new file beside it, made durable, renamed over it and the rename made
// durable (two fsyncs a file).
void PlainWrite(const QString& folder, const std::vector<std::pair<QString, QByteArray>>& files) {
  for (const auto& [name, bytes] : files) {
    const QString target = folder + "/" + name;
    QFile f(target + ".new");
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(bytes) != bytes.size() || !f.flush() ||
        ::fsync(f.handle()) != 0)
      std::abort();
    f.close();
    if (::rename(QFile::encodeName(f.fileName()).constData(), QFile::encodeName(target).constData()) != 0)
      std::abort();
    const int dir = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY);
    if (dir < 0 || ::fsync(dir) != 0) std::abort();
    ::close(dir);
  }
}

qint64 PlainRead(const QString& folder, const QStringList& names) {
  qint64 total = 0;
  for (const QString& name : names) {
    QFile f(folder + "/" + name);
    if (!f.open(QIODevice::ReadOnly)) std::abort();
    total += f.readAll().size();
  }
  return total;
}

}  // namespace

int main(int argc, char** argv) {
  vexa::RegisterPersistentClasses();
  QCoreApplication app(argc, argv);
  QTemporaryDir dir;
  QDir(dir.path()).mkpath("Config");
  QDir(dir.path()).mkpath("plain");
  const QString plain = dir.filePath("plain");
  TNetwork network(dir.path(), nullptr);
  BuildNetwork(network);

  // The best time of a few rounds (the machine is shared), the highest memory.
  const int rounds = 5;
  double saveMs = 1e18, saveMb = 0, loadMs = 1e18, loadMb = 0, writeMs = 1e18, writeMb = 0, readMs = 1e18,
         readMb = 0;
  qint64 bytes = 0;
  QStringList names;
  for (int i = 0; i < rounds; ++i) {
    // The first save writes files anew; the later ones update what the one before wrote.
    auto [ms, mb] = Measure([&] { SaveNetworkState(network); });
    saveMs = std::min(saveMs, ms);
    saveMb = std::max(saveMb, mb);
    auto files = StateFiles(network);
    names.clear();
    bytes = 0;
    for (const auto& [name, content] : files) {
      names << name;
      bytes += content.size();
    }
    auto [wms, wmb] = Measure([&] { PlainWrite(plain, files); });
    writeMs = std::min(writeMs, wms);
    writeMb = std::max(writeMb, wmb);
    files.clear();
    auto [lms, lmb] = Measure([&] { LoadNetworkState(network); });
    network.StopPoller();
    loadMs = std::min(loadMs, lms);
    loadMb = std::max(loadMb, lmb);
    auto [rms, rmb] = Measure([&] {
      if (PlainRead(plain, names) != bytes) std::abort();
    });
    readMs = std::min(readMs, rms);
    readMb = std::max(readMb, rmb);
  }
  const double fileMb = static_cast<double>(bytes) / (1024.0 * 1024.0);
  std::printf("state files: %lld, %.1f MiB\n", static_cast<long long>(names.size()), fileMb);
  std::printf(
      "SaveNetworkState  %8.1f ms %7.1f MiB | plain write %7.1f ms %6.1f MiB | ratio time %.2f memory %.2f "
      "of the files\n",
      saveMs, saveMb, writeMs, writeMb, saveMs / writeMs, saveMb / fileMb);
  std::printf(
      "LoadNetworkState  %8.1f ms %7.1f MiB | plain read  %7.1f ms %6.1f MiB | ratio time %.2f memory %.2f "
      "of the files\n",
      loadMs, loadMb, readMs, readMb, loadMs / readMs, loadMb / fileMb);
  return 0;
}
