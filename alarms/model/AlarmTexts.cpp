#include "alarms/model/AlarmTexts.h"

#include <algorithm>
#include <cmath>

#include "alarms/model/AlarmMonitor.h"
#include "core/Services.h"

namespace vexa {

QString ConditionText(TAlarmCondition condition) {
  switch (condition) {
    case TAlarmCondition::HiHi:
      return QStringLiteral("Выше аварийной");
    case TAlarmCondition::Hi:
      return QStringLiteral("Выше верхней");
    case TAlarmCondition::Lo:
      return QStringLiteral("Ниже нижней");
    case TAlarmCondition::LoLo:
      return QStringLiteral("Ниже аварийной");
    case TAlarmCondition::Comm:
      return QStringLiteral("Нет связи");
  }
  return {};
}

QString StateText(TAlarmState state) {
  switch (state) {
    case TAlarmState::Normal:
      return QStringLiteral("Норма");
    case TAlarmState::ActiveUnacked:
      return QStringLiteral("Не квитирована");
    case TAlarmState::ActiveAcked:
      return QStringLiteral("Квитирована");
    case TAlarmState::ReturnedUnacked:
      return QStringLiteral("Вернулась, не квитирована");
  }
  return {};
}

QString EventText(TAlarmEventKind kind) {
  switch (kind) {
    case TAlarmEventKind::Raised:
      return QStringLiteral("Возникла");
    case TAlarmEventKind::Acknowledged:
      return QStringLiteral("Квитирована");
    case TAlarmEventKind::Cleared:
      return QStringLiteral("Ушла");
    case TAlarmEventKind::Shelved:
      return QStringLiteral("Отложена");
    case TAlarmEventKind::Unshelved:
      return QStringLiteral("Снова под контролем");
    case TAlarmEventKind::RemoteWrite:
      return QStringLiteral("Удалённая запись");
  }
  return {};
}

QString RemoteWriteText(const QString& outcome) {
  const auto known = OutcomeOfWord(outcome);
  if (!known) return EventText(TAlarmEventKind::RemoteWrite) + QStringLiteral(": ") + outcome;
  const QString refused = QStringLiteral("Удалённая запись отклонена: ");
  switch (*known) {
    case TWriteOutcome::Written:
      return QStringLiteral("Удалённая запись выполнена");
    case TWriteOutcome::Off:
      return refused + QStringLiteral("запись через брокер выключена");
    case TWriteOutcome::Unauthenticated:
      return refused + QStringLiteral("для записи нужен вход на брокер с именем пользователя");
    case TWriteOutcome::NoRegister:
      return refused + QStringLiteral("нет такого регистра");
    case TWriteOutcome::ReadOnly:
      return refused + QStringLiteral("регистр только для чтения");
    case TWriteOutcome::Invalid:
      return refused + QStringLiteral("недопустимое значение");
    case TWriteOutcome::NoAnswer:
      return QStringLiteral("Удалённая запись не выполнена: регулятор не отвечает");
  }
  return {};
}

QString AlarmValueText(double value) {
  return std::isnan(value) ? QString() : FloatToStr(value);
}

uint32_t PriorityColour(int priority) {
  switch (priority) {
    case 1:
      return 0xFFFF0000;
    case 2:
      return 0xFFFF8C00;
    default:
      return 0xFF0078FF;
  }
}

QString AlarmFullName(const QString& caption, const QString& name) {
  if (caption.isEmpty()) return name;
  return caption + QStringLiteral(" (") + name + QLatin1Char(')');
}

QString AlarmPlacedName(const QString& place, const QString& caption, const QString& name) {
  const QString own = caption.isEmpty() ? name : caption;
  return place.isEmpty() ? own : place + QStringLiteral(" / ") + own;
}

QString WhoText(const QString& who) {
  return who == kWhoProgram ? QStringLiteral("программа") : who;
}

QStringList ActiveAlarmHeaders() {
  return {QStringLiteral("Время"),    QStringLiteral("Регистр"),   QStringLiteral("Условие"),
          QStringLiteral("Значение"), QStringLiteral("Состояние"), QStringLiteral("Приоритет")};
}

QStringList ActiveAlarmRow(const TActiveAlarm& alarm) {
  return {DateTimeToStr(alarm.Time),      AlarmPlacedName(alarm.Place, alarm.Caption, alarm.Name),
          ConditionText(alarm.Condition), AlarmValueText(alarm.Value),
          StateText(alarm.State),         QString::number(alarm.Priority)};
}

QStringList ShelvedAlarmHeaders() {
  return {QStringLiteral("До"), QStringLiteral("Регистр"), QStringLiteral("Условие"),
          QStringLiteral("Осталось"), QStringLiteral("Приоритет")};
}

QStringList ShelvedAlarmRow(const TShelvedAlarm& alarm) {
  return {DateTimeToStr(alarm.Until), AlarmPlacedName(alarm.Place, alarm.Caption, alarm.Name),
          ConditionText(alarm.Condition), TimeLeftText(alarm.SecondsLeft), QString::number(alarm.Priority)};
}

QString TimeLeftText(int seconds) {
  seconds = std::max(0, seconds);
  const int h = seconds / 3600;
  const int m = seconds / 60 % 60;
  const int s = seconds % 60;
  const QString ms =
      QStringLiteral("%1:%2").arg(m, h > 0 ? 2 : 1, 10, QLatin1Char('0')).arg(s, 2, 10, QLatin1Char('0'));
  return h > 0 ? QStringLiteral("%1:").arg(h) + ms : ms;
}

QStringList JournalHeaders() {
  return {QStringLiteral("Время"),   QStringLiteral("Регистр"),  QStringLiteral("Условие"),
          QStringLiteral("Событие"), QStringLiteral("Значение"), QStringLiteral("Приоритет"),
          QStringLiteral("Кто")};
}

QStringList JournalRow(const TAlarmEvent& event) {
  if (!event.IsAlarm())
    return {DateTimeToStr(event.Time),
            AlarmFullName(event.Caption, event.Name),
            QString(),
            RemoteWriteText(event.Outcome),
            event.Asked,
            QString(),
            WhoText(event.Who)};
  return {DateTimeToStr(event.Time),
          AlarmFullName(event.Caption, event.Name),
          ConditionText(event.Condition),
          EventText(event.Kind),
          AlarmValueText(event.Value),
          QString::number(event.Priority),
          WhoText(event.Who)};
}

QByteArray JournalExportText(const std::vector<TAlarmEvent>& events) {
  // A tab or a line break inside a caption would break the columns.
  const auto cell = [](QString text) {
    return text.replace(QLatin1Char('\t'), QLatin1Char(' '))
        .replace(QLatin1Char('\r'), QLatin1Char(' '))
        .replace(QLatin1Char('\n'), QLatin1Char(' '));
  };
  QString text;
  const auto line = [&](const QStringList& cells) {
    QStringList clean;
    for (const QString& c : cells) clean << cell(c);
    text += clean.join(QLatin1Char('\t')) + QStringLiteral("\r\n");
  };
  line(JournalHeaders());
  for (const TAlarmEvent& event : events) line(JournalRow(event));
  return ToCp1251(text);
}

}  // namespace vexa
