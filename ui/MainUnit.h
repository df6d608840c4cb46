#pragma once
// TMainForm: the program's main window. It holds the diagram pages, the menus and toolbar from which
// every other window is opened, the status line, and the switch that opens the network for
// configuration; it places the secondary windows and decides whether the program may close.

#include <QElapsedTimer>
#include <QMainWindow>
#include <QPoint>
#include <QPointer>
#include <QRect>
#include <QSize>
#include <array>
#include <functional>

#include "ui/StatusLine.h"
#include "ui/parts/HelpUnit.h"
#include "ui/parts/Session.h"

class QAction;
class QDialog;
class QLabel;
class QMenu;
class QTabWidget;
class QTimer;
class QToolBar;

namespace vexa {

class TNetwork;

class TLabelDisplay;
class TMnemoLabels;
class TAlarmMonitor;
struct TAlarmEvent;
class TNetForm;

// Where a window of the given size goes for a point in screen coordinates: moved to the other side
// of the point when it would leave the screen at the right or bottom, unless that would leave it at
// the left or top (the bottom case keeps 60 pixels more room).
QPoint PlaceNearPoint(QPoint screenPoint, QSize windowSize, const QRect& screen);

class TMainForm;

// The session of a main window, none for none (a window tested alone).
TSession* SessionOf(TMainForm* mainForm);

class TMainForm : public QMainWindow {
  Q_OBJECT
 public:
  static constexpr int kHelpContext = hcMainWindow;
  // Wide enough for the status line's state, alarms and a notice side by side.
  static constexpr int kClientWidth = 420;
  static constexpr int kClientHeight = 304;

  explicit TMainForm(TNetwork& network, QWidget* parent = nullptr);
  TNetwork& Network() const { return network_; }
  ~TMainForm() override;

  // What the windows share; the network's opening and the registry of windows live there.
  TSession& Session() const { return *session_; }
  bool NetworkOpen() const { return session_->NetworkOpen(); }
  void SetNetworkOpen(bool open) { session_->SetNetworkOpen(open); }
  int ToolWindowCount() const { return session_->ToolWindowCount(); }
  void ShowProgramState(const QString& text);
  QString ProgramState() const;
  // News of the line (TLine::Notice): a place of its own in the status line beside the
  // program's state, a loss until the port is back, a return for a few seconds. Any thread may
  // tell it.
  void ShowLineNotice(const QString& text, bool lost);
  static constexpr int kLineNewsMs = TStatusLine::kNewsMs;
  // The broker's: `outage` (empty when the broker is reachable) stays for as long as it lasts;
  // other news shows for kLineNewsMs over it.
  void ShowBrokerNotice(const QString& text, const QString& outage);
  bool ShutdownPending() const { return shutdownPending_; }

  void SetWindow(TWindowRole role, QWidget* window) { session_->SetWindow(role, window); }
  QWidget* Window(TWindowRole role) const { return session_->Window(role); }
  // The later commands that have no window of their own.
  std::function<bool()> AskPassword;             // the password question; true opens the network
  std::function<void()> SaveNetworkDescription;  // the export of the network description
  // The label's history chart and its printout; the commands stay disabled until they are given.
  std::function<void(TLabelDisplay&)> ShowHistory;
  std::function<void(TLabelDisplay&)> PrintHistory;

  // Places a window near a point of the active page (of pcMnemo when there is none), then shows it.
  void ShowNearPage(QWidget* window, int x, int y);
  // The same, modally: returns when the window is closed, with a dialog's result (a window that is
  // no dialog gives Rejected, and is modeless again afterwards).
  int ShowModalNearPage(QWidget* window, int x, int y);

  // The second copy's request: restore when minimised, else bring to the front.
  void Activate();
  // The desktop session ends: only Yes and No are offered from now on, then the window closes.
  void SessionEnding();

  // The network's alarms: the status line counts them in the caption's room, the labels show
  // them, and a new alarm of the first priority brings this window forward (with a beep unless the
  // alarm settings say otherwise). Null: none.
  void SetAlarms(TAlarmMonitor* alarms);
  // The alarm journal's news (TAlarmMonitor::JournalNews): events waiting to be written stay in
  // the status line until they are; a damaged journal kept aside is told as the line's news.
  void ShowJournalNews(const QString& text);
  // A flood raises and beeps once: at most once in this time.
  static constexpr int kAlarmCallMs = 1000;
  // The limits of a register's alarms ("Уставки тревог"); given by the program, with the network open.
  std::function<void(const QString& name)> EditAlarmLimits;

  // The labels on the pages and the lasso.
  TMnemoLabels* Labels() const { return labels_; }

 Q_SIGNALS:
  // The window has closed for good: the program ends.
  void Closed();
  void NetworkOpenChanged(bool open);
  // The trees were replaced by a restore: every view of nodes rebuilds.
  void StateRestored();
  // A device search replaced the network and template trees: every view of them rebuilds.
  void SearchDone();

 protected:
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void CreateMenus();
  void CreateToolBar();
  void CreateStatusBar();
  void BuildPages();
  void CentreOnWorkArea();
  void UpdateCommands();
  bool CloseQuery();

  void RestoreStateCommand();
  void SaveStateCommand();
  // The poller's automatic save (TNetwork::AutoSave).
  void AutoSave();
  void ExitWithoutSaving();
  void OpenNear(TWindowRole role, int x, int y);
  void SetupCommand();
  void AccessCommand();
  void DeleteLabelCommand();
  // "X-Y" and "Свойства ярлыка" for the label whose menu was opened.
  void LabelWindowCommand(TWindowRole role);
  void ConnectNetTree(TNetForm* net);
  void AfterSearch();
  // "Канал полностью": the channel of the label's register in its table.
  void ChannelCommand();
  void HelpCommand();
  void AboutCommand();
  void OpenShellUrl(const QString& url);
  void NetworkOpened(bool open);
  void WindowSet(TWindowRole role, QWidget* window);
  void AlarmEvent(const TAlarmEvent& event);

  TSession* session_;
  bool shutdownPending_ = false;
  bool closeAsked_ = false;       // "Выход без сохранения": close without the question
  bool autoSaveFailing_ = false;  // the automatic save failed last time: told already
  bool autoSaveWarned_ = false;   // the automatic save's last warnings (a file near its bound): told

  // Menu commands (the toolbar shares the first six).
  QAction* restoreAction_ = nullptr;
  QAction* saveAction_ = nullptr;
  QAction* exitWithoutSavingAction_ = nullptr;
  QAction* processesAction_ = nullptr;
  QAction* reportsAction_ = nullptr;
  QAction* archivesAction_ = nullptr;
  QAction* networkTreeAction_ = nullptr;
  QAction* setupAction_ = nullptr;
  QAction* saveDescriptionAction_ = nullptr;
  QAction* alarmsAction_ = nullptr;
  QAction* alarmLimitsAction_ = nullptr;
  QAction* accessAction_ = nullptr;
  QAction* helpAction_ = nullptr;
  QAction* aboutAction_ = nullptr;
  QAction* webAction_ = nullptr;
  QAction* mailAction_ = nullptr;
  // The label pop-up menu.
  QAction* historyAction_ = nullptr;
  QAction* printAction_ = nullptr;
  QAction* channelAction_ = nullptr;
  QAction* positionAction_ = nullptr;
  QAction* labelPropertiesAction_ = nullptr;
  QAction* deleteLabelAction_ = nullptr;
  QTabWidget* pcMnemo_ = nullptr;
  QToolBar* toolBar_ = nullptr;
  QLabel* keyPicture_ = nullptr;
  QAction* keyAction_ = nullptr;
  TStatusLine* statusLine_ = nullptr;
  QElapsedTimer lastAlarmCall_;  // the last raise and beep of a first-priority alarm
  TAlarmMonitor* alarms_ = nullptr;
  int alarmObserver_ = 0;
  void UpdateStatePanel();
  QMenu* popupMenu1_ = nullptr;
  TMnemoLabels* labels_ = nullptr;
  TNetwork& network_;
};

}  // namespace vexa
