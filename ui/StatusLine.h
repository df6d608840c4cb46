#pragma once
// The main window's status line: the program's state with its caption, and a place of its own for
// each notice (the alarms' counts, the line's news, the broker's, events waiting for the journal),
// so that no notice hides another and each lasts as long as what it tells.

#include <QObject>
#include <QString>

class QLabel;
class QStatusBar;
class QTimer;

namespace vexa {

class TNoticePanel;

class TStatusLine : public QObject {
 public:
  // A return's or the broker's passing news shows this long.
  static constexpr int kNewsMs = 10000;

  // Builds its panels into `bar`; `state` is the program's state at first.
  TStatusLine(QStatusBar* bar, const QString& state);

  void SetProgramState(const QString& text);
  const QString& ProgramState() const { return programState_; }
  // A loss stays until the port is back; any other news goes after kNewsMs.
  void ShowLineNotice(const QString& text, bool lost);
  // `outage` (empty when the broker is reachable) stays while it lasts; other news for kNewsMs.
  void ShowBrokerNotice(const QString& text, const QString& outage);
  // Active and unacknowledged alarms; none hides the panel.
  void SetAlarmCounts(int active, int unacked);
  // Events waiting for the journal (empty: none) and why, as its tooltip.
  void SetJournal(const QString& waiting, const QString& why);

 private:
  void Update();

  QLabel* stateCaption_ = nullptr;
  QLabel* statePanel_ = nullptr;
  QLabel* alarmPanel_ = nullptr;         // in the caption's room while there are alarms
  QLabel* journalPanel_ = nullptr;       // while alarm events wait for the journal
  TNoticePanel* linePanel_ = nullptr;    // while the line has news
  TNoticePanel* brokerPanel_ = nullptr;  // while the broker has news or is out
  QTimer* lineNewsTimer_ = nullptr;      // ends a return's notice
  QTimer* brokerNewsTimer_ = nullptr;
  QString programState_;
  QString lineNotice_;  // empty when the line has no news
  QString brokerOutage_;
  QString brokerNews_;
  int active_ = 0;
  int unacked_ = 0;
};

}  // namespace vexa
