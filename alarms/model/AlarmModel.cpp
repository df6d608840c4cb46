#include "alarms/model/AlarmModel.h"

#include <QStringList>
#include <array>
#include <cmath>

#include "core/Services.h"

namespace vexa {

namespace {

const std::array<QString, kAlarmConditionCount> kConditionCodes = {QStringLiteral("HH"), QStringLiteral("H"),
                                                                   QStringLiteral("L"), QStringLiteral("LL"),
                                                                   QStringLiteral("COMM")};
const std::array<QString, 6> kEventWords = {QStringLiteral("raised"),    QStringLiteral("acknowledged"),
                                            QStringLiteral("cleared"),   QStringLiteral("shelved"),
                                            QStringLiteral("unshelved"), QStringLiteral("write")};
const std::array<QString, 7> kOutcomeWords = {
    QStringLiteral("written"),
    QStringLiteral("refused: writes from the broker are off"),
    QStringLiteral("refused: writes need the broker's authentication"),
    QStringLiteral("refused: no such register"),
    QStringLiteral("refused: the register is read-only"),
    QStringLiteral("refused: the register cannot take this value"),
    QStringLiteral("failed: the regulator does not answer")};
const std::array<QString, 4> kStateWords = {QStringLiteral("normal"), QStringLiteral("unacked"),
                                            QStringLiteral("acked"), QStringLiteral("returned")};

template <class E, size_t N>
std::optional<E> OfWord(const std::array<QString, N>& words, const QString& word) {
  for (size_t i = 0; i < N; ++i)
    if (words[i] == word) return static_cast<E>(i);
  return std::nullopt;
}

}  // namespace

QString ConditionCode(TAlarmCondition condition) {
  return kConditionCodes.at(static_cast<size_t>(condition));
}
std::optional<TAlarmCondition> ConditionOfCode(const QString& code) {
  return OfWord<TAlarmCondition>(kConditionCodes, code);
}
QString EventWord(TAlarmEventKind kind) {
  return kEventWords.at(static_cast<size_t>(kind));
}
std::optional<TAlarmEventKind> EventOfWord(const QString& word) {
  return OfWord<TAlarmEventKind>(kEventWords, word);
}
QString StateWord(TAlarmState state) {
  return kStateWords.at(static_cast<size_t>(state));
}
std::optional<TAlarmState> StateOfWord(const QString& word) {
  return OfWord<TAlarmState>(kStateWords, word);
}

QString OutcomeWord(TWriteOutcome outcome) {
  return kOutcomeWords.at(static_cast<size_t>(outcome));
}
std::optional<TWriteOutcome> OutcomeOfWord(const QString& word) {
  return OfWord<TWriteOutcome>(kOutcomeWords, word);
}

bool LimitPassed(const TAlarmLimit& limit, double value, bool wasPassed) {
  if (!limit.Enabled || std::isnan(value)) return false;
  if (limit.High) {
    if (value > limit.Limit) return true;
    return wasPassed && value > limit.Limit - limit.Deadband;
  }
  if (value < limit.Limit) return true;
  return wasPassed && value < limit.Limit + limit.Deadband;
}

std::optional<TAlarmEventKind> TAlarm::Evaluate(double now, bool present, int delaySeconds) {
  present_ = present;
  if (!present) {
    pendingSince_ = kNoValue;
    if (!Active()) return std::nullopt;
    state_ = state_ == TAlarmState::ActiveAcked ? TAlarmState::Normal : TAlarmState::ReturnedUnacked;
    return TAlarmEventKind::Cleared;
  }
  if (std::isnan(pendingSince_)) pendingSince_ = now;
  if (Active() || Shelved()) return std::nullopt;
  // Whole milliseconds, so that a delay of 10 s read every second ends on the tenth read.
  const auto heldMs = std::llround((now - pendingSince_) * kSecondsPerDay * 1000);
  if (heldMs < static_cast<long long>(delaySeconds) * 1000) return std::nullopt;
  state_ = TAlarmState::ActiveUnacked;
  return TAlarmEventKind::Raised;
}

void TAlarm::Interrupt() {
  pendingSince_ = kNoValue;
}

std::optional<TAlarmEventKind> TAlarm::Acknowledge() {
  if (state_ == TAlarmState::ActiveUnacked) {
    state_ = TAlarmState::ActiveAcked;
  } else if (state_ == TAlarmState::ReturnedUnacked) {
    state_ = TAlarmState::Normal;
  } else {
    return std::nullopt;
  }
  return TAlarmEventKind::Acknowledged;
}

TAlarmEventKind TAlarm::Shelve(double until) {
  shelvedUntil_ = until;
  state_ = TAlarmState::Normal;
  return TAlarmEventKind::Shelved;
}

std::optional<TAlarmEventKind> TAlarm::Expire(double now) {
  if (!Shelved() || now < shelvedUntil_) return std::nullopt;
  shelvedUntil_ = 0;
  return TAlarmEventKind::Unshelved;
}

void TAlarm::Restore(TAlarmState state, double shelvedUntil) {
  state_ = state;
  shelvedUntil_ = shelvedUntil;
  // An active alarm restored holds until a read says otherwise.
  present_ = Active();
  pendingSince_ = kNoValue;
}

}  // namespace vexa
