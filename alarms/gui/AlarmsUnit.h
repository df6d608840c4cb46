#pragma once
// TAlarmsForm: the alarm window ("Тревоги"), always available. The active list (acknowledge the
// selected or all; shelve and the limits need the network open) and the journal, filtered by time
// range and register, exported as tab-separated text and printed as a table.

#include <QElapsedTimer>
#include <QHash>
#include <QPointer>
#include <QWidget>
#include <functional>
#include <vector>

#include "alarms/model/AlarmModel.h"
#include "ui/parts/HelpUnit.h"

class QCheckBox;
class QDateTimeEdit;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;
class QTabWidget;
class QTimer;
class QTreeWidget;
class QTreeWidgetItem;

namespace vexa {

class TNetwork;
class TSession;
class TAlarmMonitor;

class TAlarmsForm : public QWidget {
  Q_OBJECT
 public:
  static constexpr int kHelpContext = hcAlarms;
  static constexpr int kWidth = 820;
  static constexpr int kHeight = 360;

  TAlarmsForm(TNetwork& network, TAlarmMonitor& alarms, TSession* session = nullptr,
              QWidget* parent = nullptr);
  ~TAlarmsForm() override;

  // Where the journal is exported to; asks the operator unless replaced (tests).
  std::function<QString(const QString& suggested)> AskExportPath;
  // Whether the network is open for configuration (shelving and the limits); open when unset.
  std::function<bool()> NetworkOpen;

  // Brings the active list up to date, changing only the rows that changed. Events refresh it, and
  // the journal while its range reaches now, at most kRefreshesPerSecond times a second, and only
  // while the window is shown.
  void RefreshActive();
  static constexpr int kRefreshesPerSecond = 4;
  // Reads the journal for the range and register asked; "по" untouched by the operator means now.
  void ShowJournal();
  // Live: a refresh of its own while the range reaches now, which only adds the events come since.
  void RefreshJournal(bool live);
  // Whether the journal's range reaches now, so that new events join it.
  bool JournalLive() const;
  // What the journal shows now.
  const std::vector<TAlarmEvent>& JournalEvents() const { return journal_; }

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void UpdateButtons();
  void EventCame(bool alarm);
  void RefreshStale();
  QString SelectedName() const;
  TAlarmCondition SelectedCondition() const;
  void AcknowledgeSelected();
  void AcknowledgeAll();
  void ShelveSelected();
  void RefreshShelved();
  void UnshelveSelected();
  void EditLimits();
  void ExportJournal();
  void PrintJournal();

  TNetwork& network_;
  TAlarmMonitor& alarms_;
  QPointer<TSession> session_;
  int observer_ = 0;
  std::vector<TAlarmEvent> journal_;
  bool stale_ = false;         // events came since the active list was brought up to date
  bool journalStale_ = false;  // events came since the journal was read
  bool toFollows_ = true;      // "по" follows the clock until the operator sets it
  bool settingTo_ = false;     // "по" set by the program, not the operator
  QElapsedTimer lastRefresh_;  // of one an event made
  QTimer* refreshTimer_ = nullptr;
  QHash<QString, QTreeWidgetItem*> rows_;  // the active list's rows by name and condition

  QTabWidget* tabs_ = nullptr;
  QTreeWidget* active_ = nullptr;
  QPushButton* ack_ = nullptr;
  QPushButton* ackAll_ = nullptr;
  QPushButton* shelve_ = nullptr;
  QSpinBox* shelveMinutes_ = nullptr;
  QPushButton* limits_ = nullptr;
  QCheckBox* beep_ = nullptr;
  QDateTimeEdit* from_ = nullptr;
  QDateTimeEdit* to_ = nullptr;
  QLineEdit* register_ = nullptr;
  QPushButton* show_ = nullptr;
  QTreeWidget* events_ = nullptr;
  QPushButton* export_ = nullptr;
  QPushButton* print_ = nullptr;
  QLabel* journalStatus_ = nullptr;
  QTreeWidget* shelved_ = nullptr;
  QPushButton* unshelve_ = nullptr;
  QTimer* shelvedTimer_ = nullptr;  // the time left, every second while any is shelved
};

}  // namespace vexa
