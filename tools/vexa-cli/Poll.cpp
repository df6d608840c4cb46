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
      if (!ok || !(seconds > 0)) return BadValue(args[i - 1], args[i]);
    } else if (args[i] == QLatin1String("--registers") && i + 1 < args.size()) {
      limit = args[++i].toInt(&ok);
      if (!ok || limit < 0) return BadValue(args[i - 1], args[i]);
    } else {
      return BadArgument(args, i, {"--seconds", "--registers"});
    }
  }
  if (seconds <= 0) {
    Err(QStringLiteral("vexa-cli: poll: нужен параметр --seconds; справка: vexa-cli --help"));
    return 2;
  }

  TNetwork& network = *ctx.Network;
  std::unique_ptr<TRootNode>& netRoot = network.Net();
  const QString netFile = ConfigFilePath(network.Dir(), QStringLiteral("NET"));
  if (QFileInfo::exists(netFile)) {
    try {
      LoadTreeFile(network, netRoot);
    } catch (const EUnreadableFiles& e) {
      return UnreadableFilesExit(e.Message());
    } catch (const std::exception& e) {
      Err(QStringLiteral("vexa-cli: не могу прочитать %1: %2").arg(netFile, QString::fromUtf8(e.what())));
      return 1;
    }
    netRoot->SetEnabled(false);  // only the registers asked for take part
  } else if (ctx.Demo) {
    BuildSimulatedNet(*netRoot);
  } else {
    Err(QStringLiteral("vexa-cli: нет сети: файла %1 нет (с --demo опрашивается имитируемая сеть)")
            .arg(netFile));
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
  // The figures with the regional decimal separator, as every number the program shows.
  Out(QStringLiteral("опрошено регистров: %1").arg(polled.size()));
  Out(QStringLiteral("выполнено чтений: %1").arg(total));
  Out(periodCount > 0
          ? QStringLiteral("средний период чтения, с: %1").arg(FormatFixed(periodSum / periodCount, 3))
          : QStringLiteral("средний период чтения, с: нет (ни один регистр не прочитан дважды)"));
  Out(QStringLiteral("процессорное время, с: %1").arg(FormatFixed(cpu, 3)));
  Out(QStringLiteral("процессорное время на секунду работы, с: %1").arg(FormatFixed(cpu / wall, 4)));
  Out(QStringLiteral("неудачных чтений (\"***\"): %1").arg(failed));
  return 0;
}

const TCommandRegistrar kPoll{
    QStringLiteral("poll"),
    {&Poll,
     QStringLiteral("poll --seconds S [--registers N]\n"
                    "                         опрашивает сеть папки S секунд (с --demo без Config/NET.cfg —\n"
                    "                         имитируемую сеть, её первые N регистров) и печатает число\n"
                    "                         чтений, период чтения и затраты процессорного времени"),
     true}};

}  // namespace

}  // namespace vexa::cli
