#pragma once
// Start-up and shutdown of the program: the core's global objects, the single-instance rule
// (ui/SingleInstance), the windows in their order of creation with the start-up work, and the
// orderly end.

#include <QObject>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <vector>

#include "storage/FolderLock.h"
#include "ui/SingleInstance.h"

class QWidget;

namespace vexa {

class TNetwork;

class TCustomComm;
class TTickRunner;
class TMainForm;
class TRdWarnForm;
class TAlarmMonitor;

// The program from start to end. exeDir is the program's folder (tests give a temporary one).
class TProgram : public QObject {
  Q_OBJECT
 public:
  explicit TProgram(const QString& exeDir);
  ~TProgram() override;

  // Regional formats, then the program's network in its folder (the six roots, the settings object,
  // the given port, closed) and its poller, in that order.
  void InitCore(std::unique_ptr<TCustomComm> comm);
  // The single-instance rule. False when another copy runs and the operator did not want a second
  // one: that copy was asked to come forward, and no window may be created.
  bool CheckSingleInstance();
  // The windows in their order, with the start-up work of the settings window; the wait window is
  // shown meanwhile and closed in every case.
  void CreateWindows();
  // One copy per program folder instead of one per user (the folder was given on the command line).
  void SetInstancePerFolder(bool perFolder) { instancePerFolder_ = perFolder; }
  // The one-writer rule: takes the program folder's lock, telling the operator who holds it when
  // another program does (then false: no window may be created), and sweeps what killed saves left
  // in Config/ and Archives/.
  bool TakeFolder();
  // The main program body up to the message loop: the single-instance rule, the folder's lock, then
  // the windows. False when no window was created: the operator did not want a second copy, or
  // another program holds the folder (FolderRefused()).
  bool Start();
  bool FolderRefused() const { return folderRefused_; }
  // Shows the main window and runs the message loop until it closes.
  int Exec();
  // Destroys the windows, releases the single-instance socket and shuts the core down: poller, port,
  // settings object, roots; the folder's lock goes last. Runs once; the destructor runs it when nobody did.
  void Shutdown();

  // The whole program as main runs it.
  int Run();

  TMainForm* MainForm() const { return mainForm_.get(); }
  // Null until InitCore.
  TNetwork* Network() const { return network_.get(); }
  TTickRunner* Ticks() const { return ticks_.get(); }
  // Null until the windows are created.
  TAlarmMonitor* Alarms() const { return alarms_.get(); }
  TRdWarnForm* WaitForm() const { return waitForm_.get(); }
  TSingleInstance& Instance() { return instance_; }
  const TFolderLock& FolderLock() const { return folderLock_; }
  // Captions of the windows created so far, in order (the created ones of the start-up table).
  const QStringList& CreatedWindows() const { return created_; }

 Q_SIGNALS:
  // A line of the start-up work, as the wait window shows it.
  void StartUpProgress(const QString& caption);

 private:
  struct TWindowStep;
  static const std::vector<TWindowStep>& WindowSteps();
  void CreateMain();
  void CreateWait();
  void CreateNetTree();
  void CreateNodeProperties();
  void CreateRegisterProperties();
  void CreateLabelProperties();
  void CreatePosition();
  void CreateArchives();
  void CreateReports();
  void CreateReportProperties();
  void CreateProcesses();
  void CreateCycloEdit();
  void CreatePrintPreview();
  void CreatePassword();
  // The settings window; its creation step restores the settings and the saved state.
  void CreateSetup();
  void CreateRegistry();
  void CreateChannel();
  void RunSetupWork();
  // The network's alarms once its state is restored: the journal, the evaluation of every read,
  // the alarm window, the labels' and the status line's annunciation.
  void StartAlarms();
  // The publisher of the folder's broker settings (none when no broker is set), started anew.
  void StartBroker();
  // The folder's historian as Config/HISTORY.ini says, again after the settings window changed it.
  void StartHistorian();
  void StopBroker();
  // The folder's web view as Config/WEB.ini says (none when it is off), started anew.
  void StartWeb();
  // A secondary window of the main window, kept until shutdown.
  template <class W>
  W* Keep(std::unique_ptr<W> window);

  QString exeDir_;
  TSingleInstance instance_;
  TFolderLock folderLock_;
  // The program's one network; the windows below use it and go first.
  std::unique_ptr<TNetwork> network_;
  std::unique_ptr<TMainForm> mainForm_;
  std::unique_ptr<TRdWarnForm> waitForm_;
  // Not children of the main window: they give its tool-window count back while it still exists.
  std::vector<std::unique_ptr<QWidget>> windows_;
  // The processes and reports windows' ticks in their periods; stopped before the windows go.
  std::unique_ptr<TTickRunner> ticks_;
  // Observed by the windows, so it goes after them.
  std::unique_ptr<TAlarmMonitor> alarms_;
  std::unique_ptr<class QTimer> alarmTick_;
  // Follows the network's reads; goes before it.
  std::unique_ptr<class THistorian> historian_;
  // Follows the network and the alarms, so it goes before both.
  std::unique_ptr<class TBrokerLink> broker_;
  int brokerAlarms_ = 0;  // its ticket among the alarms' observers
  // Follows the network and the alarms, so it goes before both.
  std::unique_ptr<class TWebLink> web_;
  QStringList created_;
  bool instancePerFolder_ = false;
  bool folderRefused_ = false;
  bool looping_ = false;
  bool shutDown_ = false;
};

}  // namespace vexa
