// Reads per second through the real port against vexa-sim, next to the rate the exchange's own
// timing rules allow (the transmit sleep and the answer polling). Not part of the test run:
//   tests/bench/line_bench.sh
//
// usage: line_bench VEXA_SIM_PATH [seconds]

#include <QCoreApplication>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <thread>

#include "core/Comm.h"
#include "core/Network.h"
#include "core/Protocol.h"
#include "core/RegisterNode.h"
#include "core/Services.h"
#include "tests/bench/Must.h"

using namespace vexa;

namespace {

// Milliseconds one read may take at best under the exchange's rules: the transmit sleep, then polls
// until the full answer has been counted twice (each poll followed by its sleep).
double RuleReadTime(int baudIndex, int baud, int answerBytes) {
  const double bt = ByteTime(baudIndex);
  const double sleepTx = std::trunc(7 * bt) + 11;
  const double poll = std::trunc(bt) + 2;
  const double full = (5 + answerBytes) * 10000.0 / baud + 1;  // request and answer on the line, turnaround
  const double wait = std::max(0.0, full - sleepTx);
  return sleepTx + poll * (std::ceil(wait / poll) + 2);
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  if (argc < 2) {
    std::fprintf(stderr, "usage: line_bench VEXA_SIM_PATH [seconds]\n");
    return 2;
  }
  const double seconds = argc > 2 ? std::atof(argv[2]) : 10;
  TNetwork network(QDir::currentPath(), std::make_unique<TComm>(QDir::currentPath()));
  const struct {
    int Index;
    int Baud;
  } speeds[] = {{3, 19200}, {6, 115200}};
  std::printf("%-8s %10s %10s %8s\n", "bit/s", "reads/s", "rule/s", "ratio");
  for (const auto& s : speeds) {
    QTemporaryDir dir;
    const QString link = dir.filePath("line");
    QProcess sim;
    sim.start(QString::fromLocal8Bit(argv[1]), {"--link", link, "--baud", QString::number(s.Baud)});
    for (int i = 0; i < 300 && !QFileInfo::exists(link); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    network.Line().Port()->Close();
    network.Line().Port()->SetDeviceName(link);
    network.Line().Port()->Open();
    MustSucceed(network.SetBaudRateIndex(s.Index));
    TRegisterNode reg(nullptr);
    reg.SetName("D000C000R001");  // a 16-bit register: 8-byte answers
    int reads = 0, failed = 0;
    const auto t0 = std::chrono::steady_clock::now();
    double elapsed = 0;
    while (elapsed < seconds) {
      reg.StringData(network.LineContext());
      ++reads;
      if (reg.LastIOResult() != iorOK) ++failed;
      elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    }
    const double rate = reads / elapsed;
    const double rule = 1000.0 / RuleReadTime(s.Index, s.Baud, 8);
    std::printf("%-8d %10.1f %10.1f %7.0f%%  (%d failed)\n", s.Baud, rate, rule, 100 * rate / rule, failed);
    network.Line().Port()->Close();
    sim.terminate();
    sim.waitForFinished(3000);
  }
  return 0;
}
