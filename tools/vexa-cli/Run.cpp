// vexa-cli run: the program without windows. DIR's state is loaded as at start-up, the poller, the
// process tick and the report tick run for a given time (or until SIGTERM or SIGINT, as a service),
// and the state is saved as at exit. With a virtual clock (simulation only) time advances without
// waiting, every tick in its order. With a broker (--mqtt, or Config/MQTT.ini) every read, archive
// and alarm is published while it runs, and the broker is left with "offline".

#include <fcntl.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QScopeGuard>
#include <QSocketNotifier>
#include <QTimer>
#include <chrono>
#include <cmath>
#include <csignal>
#include <memory>
#include <utility>

#include "alarms/model/AlarmMonitor.h"
#include "broker/BrokerLink.h"
#include "core/ExecuterUnit.h"
#include "core/LineWriter.h"
#include "core/Network.h"
#include "core/RegisterNode.h"
#include "core/Services.h"
#include "core/SetupNode.h"
#include "historian/Historian.h"
#include "storage/NetworkState.h"
#include "storage/UnreadableFiles.h"
#include "tools/vexa-cli/CliContext.h"
#include "tools/vexa-cli/Systemd.h"
#include "ui/model/TickRunner.h"
#include "web/WebLink.h"

namespace vexa::cli {

namespace {

// The poller's walk on this thread, as the poller thread walks beside the ticks: it reads every
// register of NET whose interval has run out, each read handed to the alarms as the poller hands
// it, until the clock reaches `until` or a whole pass finds nothing more due. The walk goes on
// where it stopped, so a tree longer than a second to read is read in turn, not from its top again.
class TVirtualPoll {
 public:
  TVirtualPoll(TNetwork& network, TAlarmMonitor& alarms) : network_(network), alarms_(alarms) {}

  void RunUntil(int64_t until) {
    const TComponent* root = network_.Net().get();
    if (root != root_) {  // a new tree: from its top
      root_ = root;
      current_ = root;
      index_ = 0;
    }
    // Stop after a whole pass from the top without a read, not half of one begun mid-tree.
    bool wholePass = current_ == root && index_ == 0;
    bool readInPass = false;
    while (TickMs() < until) {
      TCustomRegister* found = nullptr;
      if (NextRegister(root, current_, index_, found)) {
        if (wholePass && !readInPass) break;
        wholePass = true;
        readInPass = false;
        continue;
      }
      auto* reg = dynamic_cast<TRegisterNode*>(found);
      if (reg == nullptr) continue;
      // The poller offers enabled registers only, and tells each refresh it ran.
      const bool refreshes = reg->RefreshDue() && reg->Enabled();
      reg->Refresh(network_.LineContext());
      if (!refreshes) continue;
      readInPass = true;
      network_.RegisterRead.Notify(*reg);
    }
    alarms_.Tick();
  }

 private:
  TNetwork& network_;
  TAlarmMonitor& alarms_;
  const TComponent* root_ = nullptr;
  const TComponent* current_ = nullptr;
  int index_ = 0;
};

// SIGTERM and SIGINT end the run through a pipe the event loop watches: a service's stop saves the
// state as an exit does.
int gStopPipe[2] = {-1, -1};

void OnStopSignal(int) {
  const char byte = 1;
  [[maybe_unused]] const ssize_t written = ::write(gStopPipe[1], &byte, 1);
}

class TStopSignals {
 public:
  explicit TStopSignals(QEventLoop& loop) {
    if (::pipe2(gStopPipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
    notifier_ = std::make_unique<QSocketNotifier>(gStopPipe[0], QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, &loop, &QEventLoop::quit);
    struct sigaction action {};
    action.sa_handler = &OnStopSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGTERM, &action, &oldTerm_);
    sigaction(SIGINT, &action, &oldInt_);
  }
  ~TStopSignals() {
    if (!notifier_) return;
    sigaction(SIGTERM, &oldTerm_, nullptr);
    sigaction(SIGINT, &oldInt_, nullptr);
    notifier_.reset();
    ::close(gStopPipe[0]);
    ::close(gStopPipe[1]);
    gStopPipe[0] = gStopPipe[1] = -1;
  }
  TStopSignals(const TStopSignals&) = delete;
  TStopSignals& operator=(const TStopSignals&) = delete;

 private:
  std::unique_ptr<QSocketNotifier> notifier_;
  struct sigaction oldTerm_ {};
  struct sigaction oldInt_ {};
};

// What a tick found wrong, on the error stream, one line each.
void PrintFaults(const TFaults& faults) {
  for (const QString& text : faults.Texts())
    Err(QStringLiteral("vexa-cli: ") + QString(text).replace(QLatin1String("\r\n"), QLatin1String(" ")));
}

// The broker's news are its outages, refusals and losses, but for the news that it is connected:
// told by the state it names, not by its words.
TPriority BrokerNewsPriority(const TBrokerLink& link, const QString& text) {
  const bool connected = link.State() == TBrokerState::Connected && text == link.StateText();
  return connected ? TPriority::Info : TPriority::Warning;
}

// ms < 0: until SIGTERM or SIGINT.
void RunReal(TNetwork& network, TAlarmMonitor& alarms, int64_t ms) {
  network.StartPoller();
  TTickRunner ticks(network, PrintFaults);
  ticks.Start();
  // Shelvings and delays run out between reads too.
  QTimer alarmTick;
  QObject::connect(&alarmTick, &QTimer::timeout, [&alarms] { alarms.Tick(); });
  alarmTick.start(1000);
  QEventLoop loop;
  const TStopSignals signals(loop);
  if (ms >= 0) QTimer::singleShot(std::chrono::milliseconds(ms), &loop, &QEventLoop::quit);
  // Under systemd: ready now that the line is open and the state loaded.
  const std::unique_ptr<TServiceNotifier> service = TServiceNotifier::ForThisProcess(network);
  if (service) service->Ready();
  loop.exec();
  if (service) service->Stopping();
  ticks.Stop();
  network.StopPoller();
  alarms.Detach();
}

int Run(TCliContext& ctx, const QStringList& args) {
  double seconds = -1;
  QString virtualStart;
  std::optional<QString> mqttUrl;
  std::optional<QString> topicRoot;
  QString historianUrl;
  std::optional<TWebAddress> webAddress;
  for (int i = 0; i < args.size(); ++i) {
    bool ok = false;
    if (args[i] == QLatin1String("--seconds") && i + 1 < args.size()) {
      seconds = args[++i].toDouble(&ok);
      if (!ok || !(seconds > 0) || seconds > 400.0 * 86400) return BadValue(args[i - 1], args[i]);
    } else if (args[i] == QLatin1String("--virtual-clock") && i + 1 < args.size()) {
      virtualStart = args[++i];
    } else if (args[i] == QLatin1String("--mqtt") && i + 1 < args.size()) {
      mqttUrl = args[++i];
    } else if (args[i] == QLatin1String("--topic-root") && i + 1 < args.size()) {
      topicRoot = args[++i];
    } else if (args[i] == QLatin1String("--historian") && i + 1 < args.size()) {
      historianUrl = args[++i];
      if (QString why; !PgTargetOf(historianUrl, &why)) {
        Err(QStringLiteral("vexa-cli: --historian %1: %2").arg(historianUrl, why));
        return 2;
      }
    } else if (args[i] == QLatin1String("--web") && i + 1 < args.size()) {
      webAddress = ParseWebAddress(args[++i]);
      if (!webAddress) return BadValue(args[i - 1], args[i]);
    } else {
      return BadArgument(args, i,
                         {"--seconds", "--virtual-clock", "--mqtt", "--topic-root", "--historian", "--web"});
    }
  }
  // Without --seconds a run lasts until it is stopped; the virtual clock must know when to end.
  if (seconds <= 0 && (!virtualStart.isEmpty() || args.contains(QLatin1String("--seconds")))) {
    Err(
        QStringLiteral("vexa-cli: --virtual-clock работает только вместе с --seconds S; справка: "
                       "vexa-cli --help"));
    return 2;
  }
  const auto ms = seconds > 0 ? static_cast<int64_t>(std::llround(seconds * 1000)) : int64_t{-1};

  TBrokerSettings broker = LoadBrokerSettings(ctx.Dir);
  if (mqttUrl) broker.Url = *mqttUrl;
  if (topicRoot) broker.TopicRoot = *topicRoot;
  if (const QStringList problems = broker.Problems(); !problems.isEmpty()) {
    for (const QString& problem : problems) Err(QStringLiteral("vexa-cli: ") + problem);
    return 2;
  }

  TWebSettings web = LoadWebSettings(ctx.Dir);
  if (webAddress) {
    web.Enabled = true;
    web.Address = webAddress->Host;
    web.Port = webAddress->Port;
  }
  if (web.Enabled) {
    if (const QStringList problems = web.Problems(); !problems.isEmpty()) {
      for (const QString& problem : problems) Err(QStringLiteral("vexa-cli: ") + problem);
      return 2;
    }
  }

  std::unique_ptr<TClock> realClock;
  if (!virtualStart.isEmpty()) {
    const std::optional<double> start = StrToDateTime(virtualStart);
    if (!start) {
      Err(QStringLiteral("vexa-cli: --virtual-clock: нужно местное время вида \"07.12.2026 9:05:00\""));
      return 2;
    }
    if (!ctx.Demo) {
      Err(QStringLiteral("vexa-cli: --virtual-clock работает только с имитацией: укажите --demo"));
      return 2;
    }
    realClock = std::exchange(Services().Clock, std::make_unique<TVirtualClock>(*start));
  }
  const auto restoreClock = qScopeGuard([&] {
    if (realClock) Services().Clock = std::move(realClock);
  });

  TNetwork& network = *ctx.Network;
  try {
    LoadNetworkState(network);  // as at start-up; it starts the poller again
  } catch (const EUnreadableFiles& e) {
    network.StopPoller();
    return UnreadableFilesExit(e.Message());
  } catch (const std::exception& e) {
    network.StopPoller();
    Err(QStringLiteral("vexa-cli: не могу прочитать состояние сети в %1: %2")
            .arg(ctx.Dir, QString::fromUtf8(e.what())));
    return 1;
  }
  network.StopPoller();
  // As at start-up: the archive folder, one level, a failure told by the first archive write.
  QDir(network.Dir()).mkdir(QStringLiteral("Archives"));
  const TFolderLine folderLine = UseCommandLineLine(ctx);
  // The alarms as the program keeps them: a journal that cannot be opened is told, and the run
  // goes on without it.
  TAlarmMonitor alarms(network, kWhoCli);
  PrintFaults(alarms.Open());
  alarms.JournalNews = [](const QString& text) {
    if (!text.isEmpty()) Err(QStringLiteral("vexa-cli: ") + text, TPriority::Warning);
  };
  alarms.Attach();
  // Every read kept for years (Config/HISTORY.ini; on unless it says otherwise).
  const auto historian = StartHistorian(
      network, [](const QString& t) { Err(QStringLiteral("vexa-cli: ") + t, TPriority::Warning); },
      realClock != nullptr, historianUrl);

  std::unique_ptr<TBrokerLink> publisher;
  if (broker.Enabled()) {
    publisher = std::make_unique<TBrokerLink>(network, BrokerOptionsFor(broker, ctx.Dir));
    publisher->News = [link = publisher.get()](const QString& text) {
      Err(QStringLiteral("vexa-cli: ") + text, BrokerNewsPriority(*link, text));
    };
    Err(QStringLiteral("vexa-cli: MQTT: публикация в %1, корень тем %2")
            .arg(broker.Url, publisher->Options().TopicRoot),
        TPriority::Info);
    publisher->Start();
    // Alarm events out to the broker, writes from it into the journal, as the program does.
    publisher->JoinAlarms(alarms);
  }

  // The diagrams in a browser, read-only, on a thread of their own.
  std::unique_ptr<TWebLink> webLink;
  if (web.Enabled) {
    webLink =
        std::make_unique<TWebLink>(network, &alarms, TWebLinkOptions{web, LoadWebUsers(ctx.Dir), {}, 100});
    QString why;
    if (!webLink->Start(&why)) {
      Err(QStringLiteral("vexa-cli: ") + why);
      return 1;
    }
    Err(QStringLiteral("vexa-cli: веб-доступ: %1%2")
            .arg(webLink->Url(), web.AnonymousView ? QStringLiteral(" (просмотр без входа)") : QString()),
        TPriority::Info);
  }

  if (realClock) {
    TVirtualPoll poll(network, alarms);
    TTickRunner(network, PrintFaults).RunVirtual(ms, [&poll](int64_t until) { poll.RunUntil(until); });
  } else {
    RunReal(network, alarms, ms);
  }
  // The run is over: no write asked through the broker holds up the save and the exit. The one on
  // the line finishes, its outcome stored and journaled before the save; what waits is dropped.
  if (publisher) publisher->HoldWrites();
  if (webLink) webLink->Stop();
  network.Writer().Stop();
  RestoreFolderLine(ctx, folderLine);
  // What the journal could not take is kept beside it and written at its next opening.
  if (!alarms.FlushJournal(2000))
    Err(QStringLiteral(
            "vexa-cli: %1; они сохранены в %2-spill и будут записаны в журнал при следующем запуске")
            .arg(alarms.JournalStatusText(), AlarmJournalPath(network.Dir())),
        TPriority::Warning);
  if (historian) historian->Finish(5000);
  int rc = 0;
  try {
    for (const QString& warning : SaveNetworkState(network).Texts())  // as at exit
      Err(QStringLiteral("vexa-cli: %1").arg(warning), TPriority::Warning);
  } catch (const std::exception& e) {
    Err(QStringLiteral("vexa-cli: состояние сети не сохранено: %1").arg(QString::fromUtf8(e.what())));
    rc = 1;
  }
  // After the save, so that the last reads and archives go out too; then "offline". A second at
  // most, so that a stop ends within a service manager's patience whatever is queued.
  if (publisher) publisher->Stop(1000);
  if (rc != 0) return rc;
  Out(QStringLiteral("отработано: %1%2; состояние сохранено в %3")
          .arg(ms < 0 ? QStringLiteral("до остановки") : QStringLiteral("%1 с").arg(FloatToStr(seconds)))
          .arg(realClock ? QStringLiteral(" по виртуальным часам, до %1").arg(DateTimeToStr(Now()))
                         : QString())
          .arg(ctx.Dir));
  return 0;
}

const TCommandRegistrar kRun{
    QStringLiteral("run"),
    {&Run,
     QStringLiteral(
         "run [--seconds S] [--virtual-clock \"DD.MM.YYYY H:MM:SS\"] [--mqtt URL] [--topic-root ROOT]\n"
         "    [--historian postgresql://USER@HOST[:PORT]/DB] [--web [ADDRESS:]PORT]\n"
         "                         загружает состояние папки, как программа, опрашивает сеть и ведёт\n"
         "                         процессы и отчёты без окон S секунд или до SIGTERM либо SIGINT, затем\n"
         "                         сохраняет состояние; виртуальные часы (с --demo и --seconds) идут от\n"
         "                         этого местного времени без ожидания; --mqtt (mqtt://узел[:порт] или\n"
         "                         mqtts://) публикует каждое значение, архив и тревогу на этот брокер\n"
         "                         под корнем тем ROOT (по умолчанию vexa/<имя папки>), как\n"
         "                         DIR/Config/MQTT.ini; --historian пишет архив значений на этот\n"
         "                         сервер PostgreSQL (пароль из PGPASSWORD или ~/.pgpass), как\n"
         "                         DIR/Config/HISTORY.ini с Backend=postgresql; --web показывает\n"
         "                         мнемосхемы, тревоги, тренды и сеть в браузере (только чтение) на\n"
         "                         этом адресе (по умолчанию 127.0.0.1), как DIR/Config/WEB.ini"),
     true, false, TFolderWrites::Folder}};

}  // namespace

}  // namespace vexa::cli
