// vexa-cli alarms: the alarm journal as tab-separated lines (time, name, caption, condition,
// event, value, who, outcome), all of it or since a time, or the alarms active now, then the events
// still waiting to be written; --ack acknowledges the alarms of one register or all of them, signed
// by vexa-cli.

#include <QDateTime>
#include <QFileInfo>

#include "alarms/model/AlarmJournal.h"
#include "alarms/model/AlarmJournalWriter.h"
#include "alarms/model/AlarmMonitor.h"
#include "alarms/model/AlarmNode.h"
#include "alarms/model/AlarmTexts.h"
#include "core/Network.h"
#include "core/Services.h"
#include "storage/TreeFiles.h"
#include "storage/UnreadableFiles.h"
#include "tools/vexa-cli/CliContext.h"

namespace vexa::cli {

namespace {

// The journal's longest wait for another program's lock in one listing.
constexpr int kListBusyMs = 2000;

const char kHeader[] = "time\tname\tcaption\tcondition\tevent\tvalue\twho\toutcome";

// The instant with the local offset in force then, to the millisecond.
QString IsoTime(const TAlarmEvent& e) {
  const QDateTime at = QDateTime::fromMSecsSinceEpoch(e.At != 0 ? e.At : UtcMsOfLocal(e.Time));
  return at.toOffsetFromUtc(at.offsetFromUtc()).toString(Qt::ISODateWithMs);
}

// A write has no condition; its value is the one asked for, its outcome the broker's word. An
// alarm's value as the journal window shows it, with the regional decimal separator.
QString EventLine(const TAlarmEvent& e, bool iso) {
  const bool alarm = e.IsAlarm();
  const QString value = alarm ? AlarmValueText(e.Value) : e.Asked;
  QStringList cells{iso ? IsoTime(e) : DateTimeToStr(e.Time),
                    e.Name,
                    e.Caption,
                    alarm ? ConditionCode(e.Condition) : QString(),
                    EventWord(e.Kind),
                    value,
                    e.Who,
                    e.Outcome};
  // A writer's name or value comes from a broker's client: it must not break the lines.
  for (QString& cell : cells)
    for (QChar& c : cell)
      if (c.category() == QChar::Other_Control) c = QLatin1Char(' ');
  return cells.join(QLatin1Char('\t'));
}

int Acknowledge(TCliContext& ctx, const QString& which) {
  TNetwork& network = *ctx.Network;
  try {
    // Its settings bound the journal's age; the alarms themselves come from the journal.
    LoadTreeFile(network, network.Alarms());
  } catch (const EUnreadableFiles& e) {
    return UnreadableFilesExit(e.Message());
  }
  if (!QFileInfo::exists(AlarmJournalPath(ctx.Dir))) {
    Out(QStringLiteral("квитировано тревог: 0"));  // nothing has ever been raised here
    return 0;
  }
  TAlarmMonitor monitor(network, kWhoCli);
  const TFaults faults = monitor.Open();
  for (const QString& text : faults.Texts()) Err(QStringLiteral("vexa-cli: ") + text);
  const int count = monitor.Acknowledge(which == QLatin1String("all") ? QString() : which);
  // An acknowledgement the journal cannot take yet waits in its spill file, written at its next
  // opening: kept, and said.
  if (!monitor.FlushJournal())
    Err(QStringLiteral("vexa-cli: ") + monitor.JournalStatusText() + QStringLiteral(": ") +
        monitor.JournalError());
  Out(QStringLiteral("квитировано тревог: %1").arg(count));
  return 0;
}

int Alarms(TCliContext& ctx, const QStringList& args) {
  bool active = false;
  bool iso = false;
  bool header = false;
  std::optional<double> since;
  QString ack;
  for (int i = 0; i < args.size(); ++i) {
    if (args[i] == QLatin1String("--active")) {
      active = true;
    } else if (args[i] == QLatin1String("--iso")) {
      iso = true;
    } else if (args[i] == QLatin1String("--header")) {
      header = true;
    } else if (args[i] == QLatin1String("--since") && i + 1 < args.size()) {
      since = StrToDateTime(args[++i]);
      if (!since) {
        Err(QStringLiteral("vexa-cli: --since: нужно местное время вида \"07.12.2026 9:05:00\""));
        return 2;
      }
    } else if (args[i] == QLatin1String("--ack") && i + 1 < args.size()) {
      ack = args[++i];
    } else {
      return BadArgument(args, i, {"--since", "--ack"});
    }
  }
  if (!ack.isEmpty()) {
    if (active || since || iso || header) {
      Err(
          QStringLiteral("vexa-cli: --ack не сочетается с --active, --since, --iso и --header; справка: "
                         "vexa-cli --help"));
      return 2;
    }
    return Acknowledge(ctx, ack);
  }
  const QString path = AlarmJournalPath(ctx.Dir);
  const std::vector<TAlarmEvent> spilled =
      TAlarmJournalWriter::ReadSpill(TAlarmJournalWriter::SpillPath(path));
  if (header) Out(QLatin1String(kHeader));
  std::vector<TAlarmEvent> events;
  int code = 0;
  TAlarmJournal journal;
  if (!QFileInfo::exists(path)) {
    // No alarm has happened here yet, unless its events wait for a journal to be made.
    if (!spilled.empty()) Err(QStringLiteral("vexa-cli: журнал тревог %1 не найден").arg(path));
  } else if (!journal.Open(path, true, kListBusyMs)) {
    code = 1;
  } else if (active) {
    for (TAlarmEvent& e : journal.Outstanding(Now()))
      if (e.State != TAlarmState::Normal) events.push_back(std::move(e));
  } else {
    TJournalQuery query;
    query.From = since;
    events = journal.Query(query);
  }
  if (!journal.ErrorText().isEmpty()) {
    // In words the operator can act on: another program holds it, it is damaged, it is gone.
    Err(QStringLiteral("vexa-cli: ") + journal.ErrorText());
    code = 1;
  }
  for (const TAlarmEvent& e : events) Out(EventLine(e, iso));
  if (!spilled.empty() && !active) {
    Err(QStringLiteral("vexa-cli: журнал тревог недоступен: %1 событий ждут записи в %2")
            .arg(spilled.size())
            .arg(TAlarmJournalWriter::SpillPath(path)));
    for (const TAlarmEvent& e : spilled)
      if (!since || e.Time >= *since) Out(EventLine(e, iso));
  }
  return code;
}

const TCommandRegistrar kAlarms{
    QStringLiteral("alarms"),
    {&Alarms,
     QStringLiteral(
         "alarms [--active] [--since \"DD.MM.YYYY H:MM:SS\"] [--iso] [--header] | --ack all|NAME\n"
         "                         журнал тревог (Archives/alarms.sqlite) строками, разделёнными\n"
         "                         табуляцией: время (местное; с --iso ISO 8601 со смещением), регистр,\n"
         "                         подпись, условие (HH H L LL COMM), событие (raised acknowledged\n"
         "                         cleared shelved unshelved или write — запись через брокер), значение\n"
         "                         (у записи — запрошенное), кто (у записи — пользователь из сообщения,\n"
         "                         mqtt, если он не назван), итог записи (written, refused: ...,\n"
         "                         failed: ...); --active — тревоги, активные сейчас; --ack квитирует\n"
         "                         тревоги одного регистра или все; --header — первая строка с именами\n"
         "                         столбцов; события, ещё ждущие записи (alarms.sqlite-spill), идут\n"
         "                         после журнальных, и о них сказано в потоке ошибок"),
     false, false, TFolderWrites::WithAck}};

}  // namespace

}  // namespace vexa::cli
