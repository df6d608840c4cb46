// Network state save and load against a plain write and read of the same files (the same bytes,
// the same fsyncs and renames): the time of each as a ratio, and the peak memory each adds
// (resident memory above the level before it) as a multiple of the files' size. Goals: each within
// twice its plain counterpart's time, memory at most 1.5 times the files. A timed tool run, not a
// test (tests/bench/state_bench.sh).

#include <fcntl.h>
#include <malloc.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "core/ExecuterUnit.h"
#include "core/Network.h"
#include "core/RegisterNode.h"
#include "core/Services.h"
#include "storage/NetworkState.h"
#include "tests/bench/Must.h"
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

double CpuMs() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

struct TMeasured {
  double Ms = 1e18;   // wall time, the best round
  double Cpu = 1e18;  // processor time, the best round: steadier than the wall time on a busy machine
  double Mb = 0;      // peak resident memory above the level before, the highest round

  // Runs `work` once and keeps its figures.
  template <class F>
  void Run(F work) {
    malloc_trim(0);  // freed heap kept from an earlier step would hide this step's growth
    { std::ofstream("/proc/self/clear_refs") << "5"; }  // resets the high-water mark
    const long before = StatusKb("VmRSS:");
    const double cpu = CpuMs();
    QElapsedTimer t;
    t.start();
    work();
    Ms = std::min(Ms, static_cast<double>(t.nsecsElapsed()) / 1e6);
    Cpu = std::min(Cpu, CpuMs() - cpu);
    Mb = std::max(Mb, static_cast<double>(StatusKb("VmHWM:") - before) / 1024.0);
  }
};

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

  const int rounds = 5;
  TMeasured save, write, load, read;
  qint64 bytes = 0;
  QStringList names;
  for (int i = 0; i < rounds; ++i) {
    // The first save writes files anew; the later ones update what the one before wrote.
    save.Run([&] { MustSucceed(SaveNetworkState(network)); });
    auto files = StateFiles(network);
    names.clear();
    bytes = 0;
    for (const auto& [name, content] : files) {
      names << name;
      bytes += content.size();
    }
    write.Run([&] { PlainWrite(plain, files); });
    files.clear();
    load.Run([&] { LoadNetworkState(network); });
    network.StopPoller();
    read.Run([&] {
      if (PlainRead(plain, names) != bytes) std::abort();
    });
  }
  const double fileMb = static_cast<double>(bytes) / (1024.0 * 1024.0);
  std::printf("state files: %lld, %.1f MiB; best of %d rounds\n", static_cast<long long>(names.size()),
              fileMb, rounds);
  const auto line = [fileMb](const char* what, const TMeasured& m, const char* plainWhat,
                             const TMeasured& p) {
    std::printf(
        "%-16s %7.1f ms (cpu %6.1f) %5.1f MiB | %-11s %6.1f ms (cpu %5.1f) | ratio time %.2f cpu %.2f, "
        "memory %.2f of the files\n",
        what, m.Ms, m.Cpu, m.Mb, plainWhat, p.Ms, p.Cpu, m.Ms / p.Ms, m.Cpu / p.Cpu, m.Mb / fileMb);
    const bool met = m.Ms / p.Ms <= 2.0 && m.Mb / fileMb <= 1.5;
    std::printf(
        "%-16s time %.2f x the %s (goal within 2 x), memory %.2f x the files (goal 1.5 x or less): %s\n",
        what, m.Ms / p.Ms, plainWhat, m.Mb / fileMb, met ? "met" : "NOT met");
  };
  line("SaveNetworkState", save, "plain write", write);
  line("LoadNetworkState", load, "plain read", read);
  return 0;
}
