// The web view under 50 browsers: vexa-cli run --web on the simulated network (its registers read
// every second, a label for each on one diagram page), first alone and then with 50 WebSocket
// clients that take every push. Prints the service's CPU with the clients on top of its CPU
// without them (goal under 5 % of one core), a page's load on loopback with what it fetches (the
// page, its style, its script, the WebSocket's first message; goal under 300 ms) and the latency
// from the read's store to a client's receipt (p99, goal under 500 ms); then the reads one client
// receives while hostile traffic comes (a thousand connections held, a client that never reads,
// malformed and oversized requests without pause) against a quiet phase as long (goal: 95 % or
// more). A timed tool run, not a test.
// Usage: web_bench [seconds]   (each phase; default 15)

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "core/Network.h"
#include "core/RegisterNode.h"
#include "core/SetupNode.h"
#include "storage/DeviceSearch.h"
#include "storage/NetworkState.h"
#include "tests/web/WebClient.h"
#include "ui/model/LabelDisplay.h"
#include "ui/model/PersistentClasses.h"
#include "web/WebSettings.h"

using namespace vexa;
using namespace vexa::test;

namespace {

// CPU seconds a process has used (user and system), from /proc.
double CpuSeconds(qint64 pid) {
  QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
  if (!stat.open(QIODevice::ReadOnly)) return 0;
  const QList<QByteArray> fields = stat.readAll().split(')').last().split(' ');
  // After the name: state is field 1 here, utime 12, stime 13.
  return (fields.value(12).toDouble() + fields.value(13).toDouble()) /
         static_cast<double>(sysconf(_SC_CLK_TCK));
}

double Percentile(std::vector<double> v, double p) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  return v[std::min(v.size() - 1, static_cast<size_t>(p * static_cast<double>(v.size())))];
}

void PrepareFolder(const QString& dir) {
  TNetwork network(dir, nullptr);
  BuildSimulatedNet(*network.Net());
  int n = 0;
  std::function<void(TComponent&)> walk = [&](TComponent& node) {
    for (int i = 0; i < node.ComponentCount(); ++i) {
      TComponent& child = *node.Component(i);
      if (auto* reg = dynamic_cast<TRegisterNode*>(&child)) {
        reg->SetLoggingInterval(1);
        auto* label = new TLabelDisplay(reg);  // owned by the register, which it enables
        label->SetPrefix(reg->Caption() + QStringLiteral(" ="));
        label->SetParentName(QStringLiteral("ts0"));
        label->SetLeft(10 + (n % 4) * 230);
        label->SetTop(10 + (n / 4) * 22);
        ++n;
      }
      walk(child);
    }
  };
  walk(*network.Net());
  network.Setup()->SetMNames({QStringLiteral("Схема")});
  network.Setup()->SetDemo(true);
  QDir(dir).mkdir(QStringLiteral("Config"));
  static_cast<void>(SaveNetworkState(network));  // a fresh folder: nothing to tell
  TWebSettings web;
  web.AnonymousView = true;
  SaveWebSettings(dir, web);
  std::printf("network: %d registers, each with a label, read every second\n", n);
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  RegisterPersistentClasses();
  const int seconds = argc > 1 ? std::max(3, std::atoi(argv[1])) : 15;
  QTemporaryDir dir;
  PrepareFolder(dir.path());
  net::io_context io;
  tcp::acceptor probe(io, {net::ip::make_address("127.0.0.1"), 0});
  const uint16_t port = probe.local_endpoint().port();
  probe.close();
  QProcess cli;
  cli.setProcessChannelMode(QProcess::ForwardedErrorChannel);
  cli.start(QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("../../vexa-cli")),
            {"--demo", "--dir", dir.path(), "run", "--web", QStringLiteral("127.0.0.1:%1").arg(port)});
  if (!cli.waitForStarted()) {
    std::printf("vexa-cli did not start: %s\n", qPrintable(cli.errorString()));
    return 1;
  }
  QElapsedTimer up;
  up.start();
  while (Http(port, "GET", "/page/0").Status != 200 && up.elapsed() < 20000) QThread::msleep(50);
  QThread::sleep(3);  // past the start

  const auto measure = [&](int s) {
    const double before = CpuSeconds(cli.processId());
    QThread::sleep(static_cast<unsigned long>(s));
    return (CpuSeconds(cli.processId()) - before) / s;
  };
  const double alone = measure(seconds);

  constexpr int kClients = 50;
  std::mutex mutex;
  std::vector<double> latencies;
  std::atomic<bool> stop{false};
  std::atomic<int> connected{0};
  std::vector<std::thread> clients;
  for (int i = 0; i < kClients; ++i)
    clients.emplace_back([&] {
      TWsClient c(port, "/ws");
      if (!c.Open()) return;
      ++connected;
      c.Receive();  // the greeting
      std::vector<double> mine;
      while (!stop) {
        const auto m = c.Receive();
        if (!m) break;
        const qint64 now = QDateTime::currentMSecsSinceEpoch();
        for (const QJsonValue& v :
             QJsonDocument::fromJson(QByteArray::fromStdString(*m)).object().value("v").toArray())
          if (const qint64 r = v.toObject().value("r").toInteger(); r > 0)
            mine.push_back(static_cast<double>(now - r));
      }
      const std::lock_guard lock(mutex);
      latencies.insert(latencies.end(), mine.begin(), mine.end());
    });
  QThread::sleep(2);
  const double withClients = measure(seconds);
  stop = true;
  for (std::thread& t : clients) t.join();

  std::vector<double> loads;
  for (int i = 0; i < 20; ++i) {
    QElapsedTimer t;
    t.start();
    const bool ok =
        Http(port, "GET", "/page/0").Status == 200 && Http(port, "GET", "/static/vexa.css").Status == 200 &&
        Http(port, "GET", "/static/vexa.js").Status == 200 && TWsClient(port, "/ws").Receive().has_value();
    if (ok) loads.push_back(static_cast<double>(t.nsecsElapsed()) / 1e6);
  }
  // The reads one well-behaved client receives in a phase: each push names its read's instant.
  // The client connects before the phase begins (before a flood could take the hundred places).
  const auto readsReceived = [&](int s, const std::function<void()>& begin) {
    TWsClient c(port, "/ws");
    c.Receive();  // the greeting
    begin();
    long long reads = 0;
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < s * 1000) {
      const auto m = c.Receive();
      if (!m) break;
      for (const QJsonValue& v :
           QJsonDocument::fromJson(QByteArray::fromStdString(*m)).object().value("v").toArray())
        if (v.toObject().value("r").toInteger() > 0) ++reads;
    }
    return reads;
  };
  const long long quiet = readsReceived(seconds, [] {});
  std::atomic<bool> hostile{true};
  std::thread attacker;
  const auto attack = [&] {
    net::io_context attackIo;
    std::vector<tcp::socket> held;
    for (int i = 0; i < 1000; ++i) {
      boost::system::error_code ec;
      tcp::socket s(attackIo);
      s.connect({net::ip::make_address("127.0.0.1"), port}, ec);
      if (!ec) held.push_back(std::move(s));
    }
    TWsClient deaf(port, "/ws");  // never reads
    long long sent = 0;
    while (hostile) {
      RawExchange(port, "GARBAGE\r\n\r\n", 500);
      RawExchange(port, "GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nX: " + std::string(20000, 'a') + "\r\n\r\n",
                  500);
      RawExchange(port, "GET /static/%2e%2e/x HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n", 500);
      sent += 3;
    }
    std::printf("hostile phase: %zu connections made, %lld hostile requests\n", held.size(), sent);
  };
  const long long attacked = readsReceived(seconds, [&] { attacker = std::thread(attack); });
  hostile = false;
  attacker.join();
  cli.terminate();
  cli.waitForFinished(10000);

  const double extra = (withClients - alone) * 100;
  const double p99 = Percentile(latencies, 0.99);
  const double load = Percentile(loads, 0.5);
  std::printf("service CPU alone: %.2f %% of a core; with %d clients (%d connected): %.2f %%\n", alone * 100,
              kClients, connected.load(), withClients * 100);
  std::printf("the clients' share: %.2f %% of a core (goal < 5 %%): %s\n", extra,
              extra < 5 ? "met" : "NOT met");
  std::printf(
      "page load on loopback (page, style, script, first push): median %.1f ms, slowest %.1f ms "
      "(goal < 300 ms): %s\n",
      load, Percentile(loads, 1.0), Percentile(loads, 1.0) < 300 ? "met" : "NOT met");
  std::printf("read to receipt: %zu pushes, median %.0f ms, p99 %.0f ms (goal < 500 ms): %s\n",
              latencies.size(), Percentile(latencies, 0.5), p99,
              !latencies.empty() && p99 < 500 ? "met" : "NOT met");
  const double share = quiet > 0 ? 100.0 * static_cast<double>(attacked) / static_cast<double>(quiet) : 0;
  std::printf(
      "reads received by a client: %lld in a quiet phase, %lld under hostile traffic: %.0f %% (goal >= 95 "
      "%%): %s\n",
      quiet, attacked, share, share >= 95 ? "met" : "NOT met");
  return 0;
}
