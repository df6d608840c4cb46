#pragma once
// The alarm life cycle of one condition (a limit of a register, or a regulator's silence): normal,
// active unacknowledged, active acknowledged, returned to normal unacknowledged; the delay before a
// condition is raised, shelving, and the events every transition makes. No network, no journal:
// TAlarmMonitor feeds it reads and writes what it returns.

#include <QString>
#include <cmath>
#include <limits>
#include <optional>

namespace vexa {

enum class TAlarmCondition { HiHi, Hi, Lo, LoLo, Comm };
inline constexpr int kAlarmConditionCount = 5;
enum class TAlarmState { Normal, ActiveUnacked, ActiveAcked, ReturnedUnacked };
enum class TAlarmEventKind { Raised, Acknowledged, Cleared, Shelved, Unshelved };

// The journal's and vexa-cli's words: HH H L LL COMM; raised ...; normal unacked acked returned.
QString ConditionCode(TAlarmCondition condition);
std::optional<TAlarmCondition> ConditionOfCode(const QString& code);
QString EventWord(TAlarmEventKind kind);
std::optional<TAlarmEventKind> EventOfWord(const QString& word);
QString StateWord(TAlarmState state);
std::optional<TAlarmState> StateOfWord(const QString& word);

// Who acknowledged or shelved: the program's operator, vexa-cli, or later a remote client.
inline const QString kWhoProgram = QStringLiteral("program");
inline const QString kWhoCli = QStringLiteral("vexa-cli");

inline constexpr double kNoValue = std::numeric_limits<double>::quiet_NaN();

// One transition as the journal keeps it. Times are the program's date-times (local, in days).
struct TAlarmEvent {
  double Time = 0;
  QString Name;     // the register's (or for COMM the regulator's) name
  QString Caption;  // its caption then
  TAlarmCondition Condition = TAlarmCondition::Hi;
  TAlarmEventKind Kind = TAlarmEventKind::Raised;
  TAlarmState State = TAlarmState::Normal;  // after the event
  double Value = kNoValue;                  // the value that made it, else the last one read
  QString Who;                              // for an acknowledgement or a shelving
  int Priority = 2;
  double ShelvedUntil = 0;  // for a shelving
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
