// A flood of writes asked through the broker: 20,000 …/set messages published at once to a
// Mosquitto this program starts on 127.0.0.1 (with an account, writes allowed), against a simulated
// network whose other registers are read every second. Prints, measured in one run:
//  - the other registers' reads per second during the flood as a share of the same span without it
//    (goal at least 50 %),
//  - the longest stretch the main thread spent outside its event loop during the flood (a 1 ms timer's
//    longest lateness beside a control thread's, tests/bench/Lateness.h; goal under 50 ms),
//  - the time from SIGTERM to the exit of a `vexa-cli run` with the same flood queued (goal under 2 s).
// A timed tool run, not a test. Usage: write_flood_bench [seconds per phase]   (default 10)

#include <arpa/inet.h>
#include <mosquitto.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <cstdio>

#include "broker/BrokerLink.h"
#include "core/Network.h"
#include "core/RegisterNode.h"
#include "core/Services.h"
#include "core/SetupNode.h"
#include "storage/TreeFiles.h"
#include "tests/bench/Lateness.h"
#include "ui/model/PersistentClasses.h"

using namespace vexa;

namespace {

constexpr int kFlood = 20000;
const QString kUser = QStringLiteral("line");
const QString kPassword = QStringLiteral("secret");

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

// A client of its own, on libmosquitto's thread, that publishes the flood and counts what comes back.
struct TClient {
  std::atomic<int64_t> Results = 0;
  std::atomic<bool> Connected = false;
  mosquitto* Mosq = nullptr;

  bool Connect(int port) {
    Mosq = mosquitto_new(nullptr, true, this);
    mosquitto_username_pw_set(Mosq, kUser.toUtf8().constData(), kPassword.toUtf8().constData());
    mosquitto_connect_callback_set(Mosq, [](mosquitto* m, void* self, int rc) {
      if (rc != 0) return;
      mosquitto_subscribe(m, nullptr, "#", 0);
      static_cast<TClient*>(self)->Connected = true;
    });
    mosquitto_message_callback_set(Mosq, [](mosquitto*, void* self, const mosquitto_message* m) {
      if (QByteArray(m->topic).endsWith("/result")) ++static_cast<TClient*>(self)->Results;
    });
    if (mosquitto_connect(Mosq, "127.0.0.1", port, 30) != MOSQ_ERR_SUCCESS) return false;
    mosquitto_loop_start(Mosq);
    for (int i = 0; i < 300 && !Connected; ++i) QThread::msleep(10);
    return Connected;
  }
  void Flood(const QByteArray& topic) {
    for (int i = 0; i < kFlood; ++i) mosquitto_publish(Mosq, nullptr, topic.constData(), 2, "30", 1, false);
  }
  ~TClient() {
    if (Mosq == nullptr) return;
    mosquitto_disconnect(Mosq);
    mosquitto_loop_stop(Mosq, false);
    mosquitto_destroy(Mosq);
  }
};

void RunEvents(int ms) {
  QElapsedTimer t;
  t.start();
  while (t.elapsed() < ms) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}

// vexa-cli run on a folder of its own with the flood queued; ms from SIGTERM to its exit, -1 when
// it had not ended 60 s later.
double StopOfARun(int port, const QString& cli) {
  QTemporaryDir dir;
  QDir(dir.path()).mkdir(QStringLiteral("Config"));
  const QString tree = dir.filePath(QStringLiteral("NET.txt"));
  QFile text(tree);
  text.open(QIODevice::WriteOnly);
  text.write(
      "TRootNode NET Caption='Сеть'\n"
      "  TRootNode D000 Caption='Печь'\n"
      "    TRootNode D000C000 Caption='Зона 1'\n"
      "      TRegisterNode D000C000R004 Caption='Уставка' RegisterType=rtINT LoggingInterval=1 "
      "Enabled=True UserCanWRITE=True\n");
  text.close();
  if (QProcess::execute(
          cli, {QStringLiteral("load"), tree, ConfigFilePath(dir.path(), QStringLiteral("NET"))}) != 0)
    return -1;
  TBrokerSettings settings;
  settings.Url = QStringLiteral("mqtt://127.0.0.1:%1").arg(port);
  settings.User = kUser;
  settings.Password = kPassword;
  settings.TopicRoot = QStringLiteral("run");
  settings.Writes = true;
  SaveBrokerSettings(dir.path(), settings);
  TClient client;
  if (!client.Connect(port)) return -1;
  QProcess run;
  run.setProcessChannelMode(QProcess::ForwardedErrorChannel);
  run.start(cli, {QStringLiteral("--demo"), QStringLiteral("--dir"), dir.path(), QStringLiteral("run")});
  if (!run.waitForStarted(3000)) return -1;
  QThread::msleep(2000);  // connected and subscribed
  client.Flood("run/D000C000R004/set");
  for (int i = 0; i < 300 && client.Results < kFlood / 2; ++i) QThread::msleep(10);
  QElapsedTimer t;
  t.start();
  ::kill(static_cast<pid_t>(run.processId()), SIGTERM);
  if (!run.waitForFinished(60000)) {
    run.kill();
    run.waitForFinished(3000);
    return -1;
  }
  return static_cast<double>(t.nsecsElapsed()) / 1e6;
}

}  // namespace

int main(int argc, char** argv) {
  RegisterPersistentClasses();
  QCoreApplication app(argc, argv);
  const int phaseS = argc > 1 ? std::max(3, std::atoi(argv[1])) : 10;
  constexpr int kOthers = 10;
  Services().Clock = std::make_unique<TClock>();
  mosquitto_lib_init();

  QTemporaryDir dir;
  const int port = FreePort();
  const QString passwords = dir.filePath(QStringLiteral("passwords"));
  if (QProcess::execute(QStringLiteral("mosquitto_passwd"),
                        {QStringLiteral("-c"), QStringLiteral("-b"), passwords, kUser, kPassword}) != 0) {
    std::fprintf(stderr, "write_flood_bench: mosquitto_passwd failed\n");
    return 2;
  }
  QFile conf(dir.filePath(QStringLiteral("mosquitto.conf")));
  conf.open(QIODevice::WriteOnly);
  conf.write(QStringLiteral(
                 "allow_anonymous false\npassword_file %1\nuser root\nlog_dest none\nlistener %2 127.0.0.1\n")
                 .arg(passwords)
                 .arg(port)
                 .toUtf8());
  conf.close();
  QProcess broker;
  broker.start(QStringLiteral("mosquitto"), {QStringLiteral("-c"), conf.fileName()});
  if (!broker.waitForStarted(3000)) {
    std::fprintf(stderr, "write_flood_bench: mosquitto did not start\n");
    return 2;
  }
  QThread::msleep(300);

  TNetwork network(dir.path(), nullptr);
  network.Setup()->SetDemo(true);
  TRegisterNode* written = nullptr;
  for (int i = 0; i <= kOthers; ++i) {
    auto* reg = new TRegisterNode(network.Net().get());  // owned by NET
    reg->SetName(TCustomRegister::RegisterName(0, 0, i + 2));
    reg->StringData(network.LineContext());  // its type and rights, as the poller would have
    reg->SetLoggingInterval(1);
    reg->SetEnabled(true);
    if (i == 0) {
      written = reg;
      reg->SetUserCanWRITE(true);
      reg->SetEnabled(false);  // written, not read: the others' reads are what is measured
    }
  }
  int64_t reads = 0;
  network.RegisterRead.Add([&](const TCustomRegister& reg) {
    if (&reg != written) ++reads;
  });

  TBrokerSettings settings;
  settings.Url = QStringLiteral("mqtt://127.0.0.1:%1").arg(port);
  settings.User = kUser;
  settings.Password = kPassword;
  settings.Writes = true;
  TBrokerOptions options = BrokerOptionsFor(settings, dir.path());
  options.TopicRoot = QStringLiteral("bench");
  TBrokerLink publisher(network, options);
  publisher.Start();
  TClient client;
  if (!client.Connect(port)) {
    std::fprintf(stderr, "write_flood_bench: the client could not connect\n");
    return 2;
  }
  network.StartPoller();
  bench::TLateness lateness;
  RunEvents(2000);  // connected, subscribed, the poller's walk under way

  reads = 0;
  QElapsedTimer span;
  span.start();
  RunEvents(phaseS * 1000);
  const double quietRate = static_cast<double>(reads) / (static_cast<double>(span.elapsed()) / 1000.0);

  QElapsedTimer flood;
  flood.start();
  client.Flood(QByteArrayLiteral("bench/") + written->Name().toUtf8() + "/set");
  const double floodMs = static_cast<double>(flood.nsecsElapsed()) / 1e6;
  reads = 0;
  lateness.Start();
  span.restart();
  RunEvents(phaseS * 1000);
  const double floodRate = static_cast<double>(reads) / (static_cast<double>(span.elapsed()) / 1000.0);
  lateness.Stop();
  const int64_t busy = publisher.WritesRefusedBusy();
  const int waiting = publisher.WritesWaiting();
  network.StopPoller();
  publisher.Stop();

  QString cli = QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("../../vexa-cli"));
  const double stopMs = StopOfARun(port, cli);
  broker.terminate();
  broker.waitForFinished(3000);

  const double share = quietRate > 0 ? floodRate / quietRate : 0;
  const double stretch = lateness.LoopMs();
  std::printf("flood: %d writes published in %.0f ms; refused busy %lld, waiting at the end %d\n", kFlood,
              floodMs, static_cast<long long>(busy), waiting);
  std::printf("other registers' reads per second: %.1f without the flood, %.1f during it (%d s each)\n",
              quietRate, floodRate, phaseS);
  std::printf("reads during the flood as a share of without: %.0f %% (goal >= 50 %%): %s\n", 100 * share,
              share >= 0.5 ? "met" : "not met");
  std::printf(
      "longest main-thread stretch outside the event loop: %.0f ms, the control thread's %.0f ms "
      "(goal < 50 ms): %s\n",
      stretch, lateness.ControlMs(), bench::TLateness::Verdict(stretch, lateness.ControlMs(), 50));
  std::printf("SIGTERM to exit of vexa-cli run with the flood queued: %.0f ms (goal < 2000 ms): %s\n", stopMs,
              stopMs >= 0 && stopMs < 2000 ? "met" : "not met");
  return share >= 0.5 && stretch < 50 && stopMs >= 0 && stopMs < 2000 ? 0 : 1;
}
