// Prepares the folder of the simulated week with the program's own code: settings with simulation
// on, 500 polled registers on the simulated network (every second one with a value label), 5
// running processes whose programmes outlast the week and 5 periodic reports sampling every minute
// in windows of an hour. tests/bench/week_bench.sh then runs vexa-cli on it; a tool, not a test.
//
// usage: week_bench DIR "DD.MM.YYYY H:MM:SS"   (the local time the run starts at)

#include <QCoreApplication>
#include <QDir>
#include <cstdio>
#include <iterator>
#include <map>
#include <memory>
#include <optional>
#include <vector>

#include "core/Comm.h"
#include "core/ImageIndex.h"
#include "core/Network.h"
#include "core/RegisterNode.h"
#include "core/Services.h"
#include "core/SetupNode.h"
#include "processes/model/CommandNode.h"
#include "reports/model/ReportNode.h"
#include "storage/NetworkState.h"
#include "tests/bench/Must.h"
#include "ui/model/LabelDisplay.h"
#include "ui/model/PersistentClasses.h"

using namespace vexa;

namespace {

constexpr int kRegisters = 500;
constexpr int kProcesses = 5;
constexpr int kReports = 5;
constexpr int kRegistersPerReport = 10;

// The channels of the simulated network: address 0 has six, address 1 three.
const int kChannels[][2] = {{0, 0}, {0, 1}, {0, 2}, {0, 3}, {0, 4}, {0, 5}, {1, 0}, {1, 1}, {1, 2}};

std::vector<TRegisterNode*> BuildNetwork(TNetwork& network) {
  std::vector<TRegisterNode*> polled;
  const int perChannel = (kRegisters + std::size(kChannels) - 1) / std::size(kChannels);
  std::map<int, TRootNode*> regulators;
  for (const auto& [address, c] : kChannels) {
    TRootNode*& regulator = regulators[address];
    if (regulator == nullptr) {
      regulator = new TRootNode(network.Net().get());  // owned by NET
      regulator->SetName(QStringLiteral("D%1").arg(address, 3, 10, QLatin1Char('0')));
      regulator->SetCaption(QStringLiteral("Регулятор %1").arg(address));
      regulator->SetImageIndex(iiREGULATOR);
    }
    auto* channel = new TRootNode(regulator);
    channel->SetName(regulator->Name() + QStringLiteral("C%1").arg(c, 3, 10, QLatin1Char('0')));
    channel->SetCaption(QStringLiteral("Канал %1").arg(c));
    channel->SetImageIndex(iiCHANNEL);
    for (int r = 1; r <= perChannel && static_cast<int>(polled.size()) < kRegisters; ++r) {
      auto* reg = new TRegisterNode(channel);
      reg->SetName(TCustomRegister::RegisterName(address, c, r));
      reg->SetCaption(QStringLiteral("Регистр %1").arg(r));
      reg->SetImageIndex(iiREGISTER);
      reg->SetRegisterType(r % 4 == 0 ? rtFLOAT : rtINT);
      polled.push_back(reg);
    }
  }
  return polled;
}

}  // namespace

int main(int argc, char** argv) {
  vexa::RegisterPersistentClasses();
  QCoreApplication app(argc, argv);
  const QStringList args = app.arguments().mid(1);
  const std::optional<double> start = args.size() == 2 ? StrToDateTime(args[1]) : std::nullopt;
  if (!start) {
    std::fputs("usage: week_bench DIR \"DD.MM.YYYY H:MM:SS\"\n", stderr);
    return 2;
  }
  const QString dir = QDir(args[0]).absolutePath();
  QDir().mkpath(dir + QStringLiteral("/Config"));
  Services().Clock = std::make_unique<TVirtualClock>(*start);
  TNetwork network(dir, std::make_unique<TComm>(dir));  // never opened: the week runs in simulation mode
  network.Setup()->SetDemo(true);
  network.Setup()->SetMNames({QStringLiteral("Цех")});

  const std::vector<TRegisterNode*> polled = BuildNetwork(network);
  for (size_t i = 0; i < polled.size(); i += 2) {
    const int n = static_cast<int>(i / 2);
    if (PlaceLabel(*polled[i], QStringLiteral("ts0"), 10 + n % 10 * 60, 10 + n / 10 * 12) == nullptr) {
      std::fputs("week_bench: a label could not be placed\n", stderr);
      return 1;
    }
  }

  // Setpoints of the third channel of address 1, ramped and held longer than the week.
  for (int p = 0; p < kProcesses; ++p) {
    auto* process = new TRootNode(network.Tasks().get());  // owned by TASKS
    process->SetName(QStringLiteral("P%1").arg(p));
    process->SetCaption(QStringLiteral("Процесс %1").arg(p));
    auto* node = new TCommandNode(process);
    node->SetName(TCustomRegister::RegisterName(1, 2, 100 + p));
    node->SetRegisterType(rtINT);
    node->SetUserCanWRITE(true);
    node->SetDataList({QStringLiteral("20"), QStringLiteral("80"), QStringLiteral("80")});
    node->SetPoints({QStringLiteral("0"), QStringLiteral("3600"), QStringLiteral("700000")});
    node->Reset();
    process->SetImageIndex(iiPLAY);
    process->SetEnabled(true);
    node->Start();
  }

  for (int r = 0; r < kReports; ++r) {
    auto* report = new TReportNode(network.Reports().get());  // owned by REPORTS
    report->SetName(QStringLiteral("R%1").arg(r));
    report->SetCaption(QStringLiteral("Отчет%1").arg(r));
    report->SetLoggingIntervalIndex(5);  // 1 min
    report->SetLoggingDurationIndex(5);  // 1 h
    report->SetMaxCount(60);
    for (int k = 0; k < kRegistersPerReport; ++k) {
      const TRegisterNode& source = *polled[static_cast<size_t>(r * kRegistersPerReport + k)];
      auto* reg = new TRegisterNode(report);
      reg->SetName(source.Name());
      reg->SetCaption(source.Caption());
      reg->SetRegisterType(source.RegisterType());
      reg->SetMaxCount(60);
    }
    if (!report->StartReport().Empty()) {
      std::fputs("week_bench: a report did not start\n", stderr);
      return 1;
    }
  }

  int rc = 0;
  try {
    MustSucceed(SaveNetworkState(network));
  } catch (const std::exception& e) {
    std::fprintf(stderr, "week_bench: %s\n", e.what());
    rc = 1;
  }
  std::printf("%zu registers (%zu with labels), %d processes, %d reports in %s\n", polled.size(),
              (polled.size() + 1) / 2, kProcesses, kReports, qPrintable(dir));
  return rc;
}
