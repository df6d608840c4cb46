#pragma once
// The alarm life cycle of one condition (a limit of a register, or a regulator's silence): normal,
// active unacknowledged, active acknowledged, returned to normal unacknowledged; the delay before a
// condition is raised, shelving, and the events every transition makes. No network, no journal:
// TAlarmMonitor feeds it reads and writes what it returns. The journal also keeps the writes asked
// from outside the program (the broker's): events of their own that belong to no alarm.

#include <QString>
#include <cmath>
#include <limits>
#include <optional>

namespace vexa {

enum class TAlarmCondition { HiHi, Hi, Lo, LoLo, Comm };
inline constexpr int kAlarmConditionCount = 5;
enum class TAlarmState { Normal, ActiveUnacked, ActiveAcked, ReturnedUnacked };
// RemoteWrite is no alarm's transition: a write asked from outside, written or refused.
enum class TAlarmEventKind { Raised, Acknowledged, Cleared, Shelved, Unshelved, RemoteWrite };

// The journal's and vexa-cli's words: HH H L LL COMM; raised ... write; normal unacked acked returned.
QString ConditionCode(TAlarmCondition condition);
std::optional<TAlarmCondition> ConditionOfCode(const QString& code);
QString EventWord(TAlarmEventKind kind);
std::optional<TAlarmEventKind> EventOfWord(const QString& word);
QString StateWord(TAlarmState state);
std::optional<TAlarmState> StateOfWord(const QString& word);

// Who acknowledged or shelved: the program's operator, vexa-cli, or later a remote client.
inline const QString kWhoProgram = QStringLiteral("program");
inline const QString kWhoCli = QStringLiteral("vexa-cli");

// What came of a write asked from outside. The words are the broker's result and the journal's.
enum class TWriteOutcome { Written, Off, Unauthenticated, NoRegister, ReadOnly, Invalid, NoAnswer };
QString OutcomeWord(TWriteOutcome outcome);
std::optional<TWriteOutcome> OutcomeOfWord(const QString& word);

inline constexpr double kNoValue = std::numeric_limits<double>::quiet_NaN();

// One transition as the journal keeps it, or a write asked from outside (RemoteWrite: Condition,
// State and Priority mean nothing, Asked and Outcome say what was asked and what came of it, Who
// the writer). Time is the program's date-time (local, in days), At the same instant in UTC epoch
// milliseconds, which the journal keeps (0: taken from Time).
struct TAlarmEvent {
  double Time = 0;
  qint64 At = 0;
  QString Name;     // the register's (or for COMM the regulator's) name
  QString Caption;  // its caption then
  TAlarmCondition Condition = TAlarmCondition::Hi;
  TAlarmEventKind Kind = TAlarmEventKind::Raised;
  TAlarmState State = TAlarmState::Normal;  // after the event
  double Value = kNoValue;                  // the value that made it, else the last one read
  QString Who;                              // for an acknowledgement, a shelving or a write
  int Priority = 2;
  double ShelvedUntil = 0;  // for a shelving
  QString Asked;            // for a write: the value asked for, as text
  QString Outcome;          // for a write: OutcomeWord, as given
  QString Key;              // the journal's own, one per event: written once, however often replayed

  bool IsAlarm() const { return Kind != TAlarmEventKind::RemoteWrite; }
  bool Written() const { return Outcome == OutcomeWord(TWriteOutcome::Written); }
};

// One limit: a high one is passed above Limit and clears at Limit - Deadband or below; a low one
// is passed below Limit and clears at Limit + Deadband or above. Between, it keeps what it was.
struct TAlarmLimit {
  bool Enabled = false;
  double Limit = 0;
  bool High = true;
  double Deadband = 0;
};
bool LimitPassed(const TAlarmLimit& limit, double value, bool wasPassed);

class TAlarm {
 public:
  TAlarmState State() const { return state_; }
  bool Active() const { return state_ == TAlarmState::ActiveUnacked || state_ == TAlarmState::ActiveAcked; }
  // The condition holds (as last seen, through its deadband), raised or not yet.
  bool Present() const { return present_; }
  bool Shelved() const { return shelvedUntil_ > 0; }
  double ShelvedUntil() const { return shelvedUntil_; }
  // Waiting for its delay to run out.
  bool Pending() const { return present_ && !std::isnan(pendingSince_) && !Active() && !Shelved(); }

  // A read's outcome at `now`: the condition holds or not. Raised once it has held delaySeconds
  // (not while shelved); cleared when it no longer holds. Returns the transition, if any.
  std::optional<TAlarmEventKind> Evaluate(double now, bool present, int delaySeconds);
  // A read that failed: the state stays, and a delay begins again with the next good read.
  void Interrupt();
  // Active unacknowledged becomes acknowledged, returned unacknowledged becomes normal.
  std::optional<TAlarmEventKind> Acknowledge();
  // Out of the active list until `until`; the condition is still followed meanwhile.
  TAlarmEventKind Shelve(double until);
  // Unshelved once its time has come; the caller then evaluates again (the condition may return).
  std::optional<TAlarmEventKind> Expire(double now);
  // As the journal left it (start-up).
  void Restore(TAlarmState state, double shelvedUntil);

 private:
  TAlarmState state_ = TAlarmState::Normal;
  bool present_ = false;
  double pendingSince_ = kNoValue;
  double shelvedUntil_ = 0;
};

}  // namespace vexa
