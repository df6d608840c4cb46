#pragma once
// A network's alarms: the settings of its ALARMS root applied to every read the poller completes
// (TNetwork::RegisterRead), each transition written to the journal and told to the observers. The
// windows take from here the active list, the counts, acknowledge and shelve; vexa-cli run does
// the same without windows. Main thread only.

#include <QHash>
#include <QString>
#include <functional>
#include <map>
#include <memory>
#include <utility>
#include <vector>

#include "alarms/model/AlarmJournal.h"
#include "alarms/model/AlarmJournalWriter.h"
#include "alarms/model/AlarmModel.h"
#include "core/Faults.h"

namespace vexa {

class TNetwork;
class TCustomRegister;
class TComponent;
class TRootNode;

// One alarm of the active list: active, or returned and not yet acknowledged.
struct TActiveAlarm {
  QString Name;
  QString Caption;
  TAlarmCondition Condition = TAlarmCondition::Hi;
  TAlarmState State = TAlarmState::Normal;
  double Time = 0;  // when it was raised
  double Value = kNoValue;
  int Priority = 2;
  QString Place;  // the captions of its regulator and channel, " / " between; empty for a regulator's
};

// One shelved alarm: out of the active list until its time runs out or it is taken back.
struct TShelvedAlarm {
  QString Name;
  QString Caption;
  TAlarmCondition Condition = TAlarmCondition::Hi;
  double Until = 0;     // the wall clock's end, as the journal keeps it
  int SecondsLeft = 0;  // by the monotonic clock, which the shelving runs on
  int Priority = 2;
  QString Place;
};

class TAlarmMonitor {
 public:
  // `who` signs the acknowledgements and shelvings made without one given.
  explicit TAlarmMonitor(TNetwork& network, QString who = kWhoProgram);
  ~TAlarmMonitor();  // detached from the network
  TAlarmMonitor(const TAlarmMonitor&) = delete;
  TAlarmMonitor& operator=(const TAlarmMonitor&) = delete;

  // Opens the journal (AlarmJournalPath of the network's folder unless given), removes the events
  // older than the ALARMS root's bound and restores the alarms it leaves outstanding, then reads
  // the settings (Rebuild). The faults say what failed, and how many old events went; without a
  // journal the alarms are still evaluated and kept in memory. A journal that does not exist yet
  // is made with the first event.
  TFaults Open(const QString& journalPath = QString());
  // Takes the network's completed reads, and lets them go.
  void Attach();
  void Detach();
  // Reads ALARMS and NET again: after an edit of the limits or of NET's structure (a read after a
  // load or a search that replaced either tree does it by itself). The states of the alarms that
  // remain are kept.
  void Rebuild();

  // One completed read of a register: its limits, and its regulator's communication alarm.
  void Read(const TCustomRegister& reg);
  // Shelvings that run out, delays that run out between reads, the journal's age bound once a
  // day: every second or so.
  void Tick();

  // The active list, the most urgent first, then the oldest.
  std::vector<TActiveAlarm> Active() const;
  int ActiveCount() const;   // active, acknowledged or not
  int UnackedCount() const;  // active or returned, not acknowledged
  // The state of an alarm; of a name's alarms the one a label shows: unacknowledged active before
  // acknowledged active before returned; normal when none, with the priority of the chosen alarm.
  TAlarmState State(const QString& name, TAlarmCondition condition) const;
  std::pair<TAlarmState, int> WorstState(const QString& name) const;
  // True while one of the register's alarms is on the shelf.
  bool AnyShelved(const QString& name) const;

  // Acknowledges the alarms of a name (every condition), or all of them with an empty name; the
  // count acknowledged.
  int Acknowledge(const QString& name, const QString& who = QString());
  int AcknowledgeAll(const QString& who = QString()) { return Acknowledge(QString(), who); }
  // Shelves an alarm for `seconds`; false when there is no such alarm or the time is not positive.
  bool Shelve(const QString& name, TAlarmCondition condition, int seconds, const QString& who = QString());

  // Takes a shelved alarm back before its time: journaled as unshelved with who did it, then
  // raised again at once if its condition still holds. False when it is not shelved.
  bool Unshelve(const QString& name, TAlarmCondition condition, const QString& who = QString());
  // The shelved alarms, the one whose shelving ends first first.
  std::vector<TShelvedAlarm> ShelvedList() const;

  // A write asked from outside the program (RemoteWrite): journaled and told like the alarms'
  // events, and changing none of them. False for an alarm's kind, which only its alarm makes.
  bool Note(const TAlarmEvent& event);

  // Told every event, after the journal has it (the labels flash from it, the status line counts).
  int Observe(std::function<void(const TAlarmEvent&)> observer);
  void Forget(int id);

  // The journal read-only, for queries: what was handed to the writer a moment ago is in it unless
  // the journal is unavailable (then it waits, JournalWaiting). A refresh that runs by itself does not
  // wait for the writer (`waitForWriter` false): what it has not stored yet comes with a later one.
  TAlarmJournal& Journal(bool waitForWriter = true);
  // Whether events go to a journal (Open made its writer); its file comes with the first event.
  bool JournalKept() const { return writer_ != nullptr; }
  // What the journal's writer last failed with; empty while it writes.
  QString JournalError() const;
  // The events not yet in the journal, and the operator's words for it (empty when none wait):
  // the status line, the log and the broker say this.
  int JournalWaiting() const;
  QString JournalStatusText() const;
  // Told on the main thread (from Tick) when JournalStatusText changes or a damaged journal was
  // kept aside.
  std::function<void(const QString&)> JournalNews;
  // Waits at most ms for the events handed over to be written: true when none wait. Tests and
  // vexa-cli; the program never waits.
  bool FlushJournal(int ms = 5000);
  // How often a journal that took no writes is tried again; before Open.
  int JournalRetryMs = 3000;
  // How long Open waits for the writer's word on a journal that is there; before Open.
  int JournalOpenWaitMs = 1000;
  // The journal's age bound, in days.
  int KeepDays() const { return keepDays_; }
  // The watched registers (with their limits or their regulator's communication alarm).
  int WatchedCount() const { return static_cast<int>(watched_.size()); }

 private:
  struct TRecord {
    TAlarm Alarm;
    QString Name;
    QString Caption;
    QString Place;  // as TActiveAlarm's
    TAlarmCondition Condition = TAlarmCondition::Hi;
    int Priority = 2;
    int Delay = 0;
    double Since = 0;                           // raised at
    double ShelvedUntil = 0;                    // the wall clock's end of a shelving, as the journal keeps it
    TAlarmState Counted = TAlarmState::Normal;  // the state the counts hold for it
    double Value = kNoValue;
  };
  struct TWatched {
    bool Limits = false;  // an enabled alarm node of its own
    TAlarmLimit Limit[4];
    TRecord* Records[4] = {};
    bool Passed[4] = {};
    int Regulator = -1;  // index into comm_
    bool Failing = false;
  };
  struct TComm {
    TRecord* Record = nullptr;
    bool Enabled = false;
    int Registers = 0;
    int Failing = 0;
  };

  TRecord& RecordOf(const QString& name, TAlarmCondition condition);
  void Apply(TRecord& record, std::optional<TAlarmEventKind> kind, double now, double value,
             const QString& who = QString());
  // Into the journal (opened with the first event), then to the observers.
  void Tell(const TAlarmEvent& event);
  void TellJournalNews();
  // Keeps the counts up to date with a record's state: a flood costs no walk over every alarm.
  void Recount(TRecord& record);

  TNetwork& network_;
  QString who_;
  std::unique_ptr<TAlarmJournalWriter> writer_;
  TAlarmJournal reader_;
  QString journalPath_;
  QString journalNews_;  // what JournalNews was last told
  QString setAsideTold_;
  int keepDays_ = 0;
  double lastPrune_ = 0;
  int readTicket_ = 0;                                  // following the network's reads while not 0
  std::map<std::pair<QString, int>, TRecord> records_;  // stable addresses
  QHash<const TCustomRegister*, int> index_;
  std::vector<TWatched> watched_;
  std::vector<TComm> comm_;
  const TRootNode* builtNet_ = nullptr;  // the trees the index was built from
  const TRootNode* builtAlarms_ = nullptr;
  double nextShelfEnd_ = 0;  // the earliest shelving's end on the monotonic clock, 0 when none
  std::map<int, std::function<void(const TAlarmEvent&)>> observers_;
  int nextObserver_ = 1;
  int activeCount_ = 0;
  int unackedCount_ = 0;
};

}  // namespace vexa
