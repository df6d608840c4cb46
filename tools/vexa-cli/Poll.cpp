// vexa-cli poll: the program's poller on a network for a given time, with what it cost.

#include <sys/resource.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QFileInfo>
#include <QTimer>
#include <chrono>
#include <memory>
#include <unordered_map>
#include <vector>

#include "core/ExecuterUnit.h"
#include "core/Network.h"
#include "core/RegisterNode.h"
#include "core/Services.h"
#include "storage/DeviceSearch.h"
#include "storage/TreeFiles.h"
#include "tools/vexa-cli/CliContext.h"

namespace vexa::cli {

namespace {

double CpuSecondsUsed() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  auto seconds = [](const timeval& tv) { return static_cast<double>(tv.tv_sec) + tv.tv_usec / 1e6; };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// The registers of NET in the order the poller visits them.
std::vector<TCustomRegister*> RegistersInTreeOrder(const TRootNode& net) {
  std::vector<TCustomRegister*> result;
  const TComponent* current = &net;
  int index = 0;
  TCustomRegister* found = nullptr;
  while (!NextRegister(&net, current, index, found))
    if (found) result.push_back(found);
  return result;
}

struct TReadLog {
  double LastSeen = 0;  // RDTime when last looked at: a read changes it
  double First = 0;
  double Last = 0;
  int Reads = 0;
  int Failed = 0;  // of them, reads that ended as "***"
};

int Poll(TCliContext& ctx, const QStringList& args) {
  double seconds = -1;
  int limit = -1;
  for (int i = 0; i < args.size(); ++i) {
    bool ok = false;
    if (args[i] == QLatin1String("--seconds") && i + 1 < args.size()) {
      seconds = args[++i].toDouble(&ok);
      if (!ok || seconds <= 0) return Usage();
    } else if (args[i] == QLatin1String("--registers") && i + 1 < args.size()) {
      limit = args[++i].toInt(&ok);
      if (!ok || limit < 0) return Usage();
    } else {
      return Usage();
    }
  }
  if (seconds <= 0) return Usage();

  TNetwork& network = *ctx.Network;
  std::unique_ptr<TRootNode>& netRoot = network.Net();
  const QString netFile = ConfigFilePath(network.Dir(), QStringLiteral("NET"));
  if (QFileInfo::exists(netFile)) {
    try {
      LoadTreeFile(network, netRoot);
    } catch (const EUnreadableFiles& e) {
      return UnreadableFilesExit(e.Message());
    } catch (const std::exception& e) {
      Err(QStringLiteral("vexa-cli: %1 cannot be read: %2").arg(netFile, QString::fromUtf8(e.what())));
      return 1;
    }
    netRoot->SetEnabled(false);  // only the registers asked for take part
  } else if (ctx.Demo) {
    BuildSimulatedNet(*netRoot);
  } else {
    Err(QStringLiteral("vexa-cli: no network: %1 does not exist").arg(netFile));
    return 1;
  }

  std::vector<TCustomRegister*> polled = RegistersInTreeOrder(*netRoot);
  if (limit >= 0 && static_cast<size_t>(limit) < polled.size()) polled.resize(static_cast<size_t>(limit));
  std::unordered_map<const TCustomRegister*, TReadLog> reads;
  for (TCustomRegister* reg : polled) {
    reg->SetEnabled(true);
    reads[reg].LastSeen = reg->RDTime();
  }

  const double cpu0 = CpuSecondsUsed();
  const auto wall0 = std::chrono::steady_clock::now();
  network.StartPoller();
  // The poller is the only reader here, so a changed RDTime after its refresh is one read.
  network.Executer()->OnRefreshed = [&reads](TCustomRegister& reg) {
    const auto it = reads.find(&reg);
    if (it == reads.end() || reg.RDTime() == it->second.LastSeen) return;
    TReadLog& log = it->second;
    log.LastSeen = reg.RDTime();
    if (log.Reads++ == 0) log.First = log.LastSeen;
    log.Last = log.LastSeen;
    if (reg.LastIOResult() != iorOK) ++log.Failed;
  };
  QEventLoop loop;
  QTimer::singleShot(static_cast<int>(seconds * 1000), &loop, &QEventLoop::quit);
  loop.exec();
  network.StopPoller();
  const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - wall0).count();
  const double cpu = CpuSecondsUsed() - cpu0;

  long total = 0;
  long failed = 0;
  double periodSum = 0;
  int periodCount = 0;
  for (const auto& [reg, log] : reads) {
    total += log.Reads;
    failed += log.Failed;
    if (log.Reads >= 2) {
      periodSum += (log.Last - log.First) * kSecondsPerDay / (log.Reads - 1);
      ++periodCount;
    }
  }
  Out(QStringLiteral("registers polled: %1").arg(polled.size()));
  Out(QStringLiteral("reads performed: %1").arg(total));
  Out(periodCount > 0 ? QStringLiteral("mean read period, s: %1").arg(periodSum / periodCount, 0, 'f', 3)
                      : QStringLiteral("mean read period, s: none (no register was read twice)"));
  Out(QStringLiteral("CPU seconds used: %1").arg(cpu, 0, 'f', 3));
  Out(QStringLiteral("CPU seconds per wall second: %1").arg(cpu / wall, 0, 'f', 4));
  Out(QStringLiteral("reads failed (\"***\"): %1").arg(failed));
  return 0;
}

const TCommandRegistrar kPoll{
    QStringLiteral("poll"),
    {&Poll,
     QStringLiteral("poll --seconds S [--registers N]  polls DIR's network for S seconds "
                    "(--demo without Config/NET.cfg: the simulated network, its first N "
                    "registers) and prints reads, read period and CPU use"),
     true}};

}  // namespace

}  // namespace vexa::cli
