// The broker's publisher under 1000 register reads a second: a simulated network of 1000
// registers read every second by the poller, each read published to a Mosquitto broker this
// program starts on 127.0.0.1, and a subscriber that notes when each value arrives. Prints the
// reads per second, the publisher thread's share of one core and the latency from the read to the
// subscriber's receipt (median, 99th percentile). Goals: under 5 % of a core, p99 under 100 ms.
// The simulated exchange's own 10 ms wait is left out (a real line carries about 100 reads a
// second): the poller then reads as fast as the main thread stores. A timed tool run, not a test.
// Usage: broker_bench [seconds]   (default 20; the first 3 s are not measured)

#include <arpa/inet.h>
#include <mosquitto.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <mutex>
#include <vector>

#include "broker/BrokerLink.h"
#include "core/Network.h"
#include "core/RegisterNode.h"
#include "core/Services.h"
#include "core/SetupNode.h"
#include "ui/model/PersistentClasses.h"

using namespace vexa;

namespace {

// Real time, but the simulated exchange's wait is not spent.
class TQuickLineClock : public TClock {
 public:
  void Sleep(int ms) override {
    if (ms > 10) TClock::Sleep(ms);
  }
};

int FreePort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  socklen_t size = sizeof a;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &size);
  ::close(fd);
  return ntohs(a.sin_port);
}

struct TReceipts {
  std::mutex Mutex;
  std::vector<double> LatencyMs;
  bool Measuring = false;
  int64_t Count = 0;
};

void OnMessage(mosquitto*, void* self, const mosquitto_message* m) {
  const qint64 now = QDateTime::currentMSecsSinceEpoch();
  auto& r = *static_cast<TReceipts*>(self);
  const QJsonObject o =
      QJsonDocument::fromJson(QByteArray(static_cast<const char*>(m->payload), m->payloadlen)).object();
  const QString time = o.value(QStringLiteral("time")).toString();
  if (time.isEmpty()) return;
  const qint64 read = QDateTime::fromString(time, Qt::ISODateWithMs).toMSecsSinceEpoch();
  const std::lock_guard lock(r.Mutex);
  ++r.Count;
  if (r.Measuring) r.LatencyMs.push_back(static_cast<double>(now - read));
}

double Percentile(std::vector<double> v, double p) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  return v[static_cast<size_t>(p * static_cast<double>(v.size() - 1))];
}

}  // namespace

int main(int argc, char** argv) {
  RegisterPersistentClasses();
  QCoreApplication app(argc, argv);
  const int seconds = argc > 1 ? std::max(5, std::atoi(argv[1])) : 20;
  constexpr int kWarmUpS = 3;
  constexpr int kRegisters = 1000;
  Services().Clock = std::make_unique<TQuickLineClock>();

  QTemporaryDir dir;
  const int port = FreePort();
  QFile conf(dir.filePath(QStringLiteral("mosquitto.conf")));
  conf.open(QIODevice::WriteOnly);
  conf.write(QStringLiteral("allow_anonymous true\nuser root\nlog_dest none\nlistener %1 127.0.0.1\n")
                 .arg(port)
                 .toUtf8());
  conf.close();
  QProcess broker;
  broker.start(QStringLiteral("mosquitto"), {QStringLiteral("-c"), conf.fileName()});
  if (!broker.waitForStarted(3000)) {
    std::fprintf(stderr, "broker_bench: mosquitto did not start\n");
    return 2;
  }
  QThread::msleep(300);

  TReceipts receipts;
  mosquitto_lib_init();
  mosquitto* sub = mosquitto_new(nullptr, true, &receipts);
  mosquitto_message_callback_set(sub, &OnMessage);
  if (mosquitto_connect(sub, "127.0.0.1", port, 30) != MOSQ_ERR_SUCCESS) {
    std::fprintf(stderr, "broker_bench: the subscriber could not connect\n");
    return 2;
  }
  mosquitto_subscribe(sub, nullptr, "bench/+", 1);
  mosquitto_loop_start(sub);

  TNetwork network(dir.path(), nullptr);
  network.Setup()->SetDemo(true);
  for (int i = 0; i < kRegisters; ++i) {
    auto* reg = new TRegisterNode(network.Net().get());  // owned by NET
    reg->SetName(TCustomRegister::RegisterName(i / 10, i % 10, 4));
    reg->SetLoggingInterval(1);
    reg->SetEnabled(true);
  }
  int64_t reads = 0;
  int64_t failed = 0;
  bool counting = false;
  std::vector<double> stored;  // read to its store on the main thread, where the publisher takes it
  network.RegisterRead.Add([&](const TCustomRegister& reg) {
    if (!counting) return;
    ++reads;
    if (reg.LastIOResult() != iorOK) ++failed;
    stored.push_back((Now() - reg.RDTime()) * 86400000.0);
  });

  TBrokerSettings settings;
  settings.Url = QStringLiteral("mqtt://127.0.0.1:%1").arg(port);
  TBrokerOptions options = BrokerOptionsFor(settings, dir.path());
  options.TopicRoot = QStringLiteral("bench");
  TBrokerLink publisher(network, options);
  publisher.Start();
  network.StartPoller();

  double cpu0 = 0;
  rusage usage0{};
  QElapsedTimer wall;
  QTimer::singleShot(kWarmUpS * 1000, [&] {
    cpu0 = publisher.ThreadCpuSeconds();
    getrusage(RUSAGE_SELF, &usage0);
    wall.start();
    counting = true;
    const std::lock_guard lock(receipts.Mutex);
    receipts.Measuring = true;
  });
  QTimer::singleShot(seconds * 1000, &app, &QCoreApplication::quit);
  app.exec();
  counting = false;
  const double cpu = publisher.ThreadCpuSeconds() - cpu0;
  rusage usage1{};
  getrusage(RUSAGE_SELF, &usage1);
  const double elapsed = static_cast<double>(wall.elapsed()) / 1000.0;
  network.StopPoller();
  std::vector<double> latency;
  {
    const std::lock_guard lock(receipts.Mutex);
    receipts.Measuring = false;
    latency = receipts.LatencyMs;
  }
  publisher.Stop();
  mosquitto_disconnect(sub);
  mosquitto_loop_stop(sub, false);
  mosquitto_destroy(sub);
  broker.terminate();
  broker.waitForFinished(3000);

  auto seconds_of = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
  const double processCpu = seconds_of(usage1.ru_utime) + seconds_of(usage1.ru_stime) -
                            seconds_of(usage0.ru_utime) - seconds_of(usage0.ru_stime);
  const double share = cpu / elapsed;
  const double p50 = Percentile(latency, 0.5);
  const double p99 = Percentile(latency, 0.99);
  std::printf("measured: %.1f s, %d registers read every second\n", elapsed, kRegisters);
  std::printf("reads per second: %.0f (failed %lld)\n", static_cast<double>(reads) / elapsed,
              static_cast<long long>(failed));
  std::printf("received per second: %.0f, dropped %lld\n", static_cast<double>(latency.size()) / elapsed,
              static_cast<long long>(publisher.Dropped()));
  std::printf("publisher thread: %.2f %% of one core (goal < 5 %%): %s\n", 100 * share,
              share < 0.05 ? "met" : "MISSED");
  std::printf("whole process (poller, main thread, publisher, subscriber): %.1f %% of one core\n",
              100 * processCpu / elapsed);
  std::printf("read to its store by the main thread, ms: median %.1f, p99 %.1f\n", Percentile(stored, 0.5),
              Percentile(stored, 0.99));
  std::printf("read to receipt, ms: median %.1f, p99 %.1f (goal p99 < 100): %s\n", p50, p99,
              p99 < 100 ? "met" : "MISSED");
  return share < 0.05 && p99 < 100 ? 0 : 1;
}
