#include "ui/MainUnit.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QDialog>
#include <QEventLoop>
#include <QKeySequence>
#include <QLabel>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QPolygonF>
#include <QResizeEvent>
#include <QScopeGuard>
#include <QScreen>
#include <QStatusBar>
#include <QTabWidget>
#include <QTimer>
#include <QToolBar>
#include <QUrl>
#include <QVBoxLayout>

#ifndef QT_NO_SESSIONMANAGER
#include <QSessionManager>
#include <utility>
#endif

#include "alarms/model/AlarmMonitor.h"
#include "alarms/model/AlarmNode.h"
#include "core/ExecuterUnit.h"
#include "core/ImageIndex.h"
#include "core/Network.h"
#include "core/Services.h"
#include "storage/NetworkState.h"
#include "storage/TreeFiles.h"
#include "ui/AboutUnit.h"
#include "ui/ChannelUnit.h"
#include "ui/LabelPropertiesUnit.h"
#include "ui/LabelViews.h"
#include "ui/LassoUnit.h"
#include "ui/MnemoPages.h"
#include "ui/PositionUnit.h"
#include "ui/StatusLine.h"
#include "ui/config/NetUnit.h"
#include "ui/config/SetupUnit.h"
#include "ui/parts/HelpUnit.h"
#include "ui/parts/ImageList.h"
#include "ui/parts/Tell.h"

namespace vexa {

namespace {

// Ends a modal loop when its window is hidden (closed) or destroyed.
class THideWatch : public QObject {
 public:
  explicit THideWatch(QEventLoop& loop) : loop_(loop) {}

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Hide && !event->spontaneous()) loop_.quit();
    return QObject::eventFilter(watched, event);
  }

 private:
  QEventLoop& loop_;
};

// Shows a window that is no dialog application-modally until it is closed, as a dialog's exec()
// does, and gives it its own modality back afterwards.
int ExecWindow(QWidget& window) {
  const QPointer<QWidget> guard(&window);
  const Qt::WindowModality before = window.windowModality();
  window.setWindowModality(Qt::ApplicationModal);
  QEventLoop loop;
  THideWatch watch(loop);
  window.installEventFilter(&watch);
  QObject::connect(&window, &QObject::destroyed, &loop, &QEventLoop::quit);
  window.show();
  window.raise();
  window.activateWindow();
  if (window.isVisible()) loop.exec(QEventLoop::DialogExec);
  if (guard) {
    guard->removeEventFilter(&watch);
    if (guard->isVisible()) guard->hide();  // a modality changes only while hidden
    guard->setWindowModality(before);
  }
  return QDialog::Rejected;
}

QString ErrorText(const std::exception& e) {
  return QString::fromUtf8(e.what());
}
}  // namespace

QPoint PlaceNearPoint(QPoint p, QSize window, const QRect& screen) {
  int x = p.x();
  int y = p.y();
  if (x + window.width() > screen.x() + screen.width() && x - window.width() >= screen.x())
    x -= window.width();
  if (y + window.height() > screen.y() + screen.height() && y - (window.height() + 60) >= screen.y())
    y -= window.height() + 60;
  return {x, y};
}

TMainForm::TMainForm(TNetwork& network, QWidget* parent)
    : QMainWindow(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                              Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint),
      session_(new TSession(this)),
      network_(network) {
  setObjectName(QStringLiteral("MainForm"));
  session_->PlaceNearPage = [this](QWidget* window, int x, int y) { ShowNearPage(window, x, y); };
  session_->PlaceModalNearPage = [this](QWidget* window, int x, int y) {
    return ShowModalNearPage(window, x, y);
  };
  connect(session_, &TSession::NetworkOpenChanged, this, &TMainForm::NetworkOpened);
  connect(session_, &TSession::ToolWindowCountChanged, this, &TMainForm::UpdateCommands);
  connect(session_, &TSession::WindowSet, this, &TMainForm::WindowSet);
  setWindowTitle(QStringLiteral("Vexa"));
  Services().ProgramState = [this](const QString& text) { ShowProgramState(text); };
  network_.PollerState = [this](bool) { ShowProgramState(network_.PollerStateText()); };
  Services().BusyCursor = [](bool busy) {
    if (busy)
      QApplication::setOverrideCursor(Qt::WaitCursor);
    else
      QApplication::restoreOverrideCursor();
  };
  network_.AutoSave = [this] { AutoSave(); };
  {
    // Told on the thread of the exchange, often the poller's: shown from this window's own thread.
    const auto lineLock = network_.Line().Lock();
    network_.Line().Notice = [this](const QString& text, bool lost) {
      QMetaObject::invokeMethod(
          this, [this, text, lost] { ShowLineNotice(text, lost); }, Qt::QueuedConnection);
    };
    // The simulator's values wander from here on.
    network_.Line().Random().Seed(static_cast<uint32_t>(Services().Clock->TickMs()));
  }
#ifndef QT_NO_SESSIONMANAGER
  connect(qApp, &QGuiApplication::commitDataRequest, this, [this](QSessionManager& manager) {
    if (manager.allowsInteraction()) {
      SessionEnding();
      manager.release();
    }
  });
#endif

  CreateMenus();
  CreateToolBar();
  pcMnemo_ = new QTabWidget(this);
  pcMnemo_->setObjectName(QStringLiteral("diagramPages"));
  setCentralWidget(pcMnemo_);
  CreateStatusBar();
  setFixedSize(kClientWidth, kClientHeight + menuBar()->sizeHint().height());

  SetNetworkOpen(false);
  BuildPages();
  InstallHelpShortcut(this, kHelpContext);
  UpdateCommands();
}

TMainForm::~TMainForm() {
  if (alarms_ != nullptr) alarms_->Forget(alarmObserver_);
  // The labels' history windows count among this window's tool windows: they go while it is whole.
  labels_->CloseHistoryForms();
  Services().ProgramState = nullptr;
  Services().BusyCursor = nullptr;
  network_.PollerState = nullptr;
  network_.AutoSave = nullptr;
  const auto lineLock = network_.Line().Lock();
  network_.Line().Notice = nullptr;
}

void TMainForm::CreateStatusBar() {
  statusBar()->setSizeGripEnabled(false);
  statusLine_ = new TStatusLine(statusBar(), network_.PollerStateText());
}

void TMainForm::BuildPages() {
  const TMnemoBuildResult built = BuildMnemoPages(network_, pcMnemo_);
  labels_ = new TMnemoLabels(pcMnemo_, this);
  labels_->SetPopup(popupMenu1_);
  labels_->DropsAllowed = [this] { return NetworkOpen(); };

  if (built.PageCount > 0) {
    // The layout asks for room for the largest picture on top of the window's own parts; the window
    // takes it where its own size is smaller, and never shrinks.
    const QSize base = size();
    setMinimumSize(0, 0);
    setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    setFixedSize(base.expandedTo(minimumSizeHint()));
  }
  CentreOnWorkArea();
  if (built.SettingsChanged) SaveTreeFileOrTell(network_, *network_.Setup());
}

void TMainForm::CentreOnWorkArea() {
  const QScreen* s = screen() != nullptr ? screen() : QGuiApplication::primaryScreen();
  if (s == nullptr) return;
  const QRect work = s->availableGeometry();
  const QSize outer = isVisible() ? frameGeometry().size() : size();
  int top = work.top() + (work.height() - outer.height()) / 2;
  int left = work.left() + (work.width() - outer.width()) / 2;
  move(std::max(left, 0), std::max(top, 0));
}

TSession* SessionOf(TMainForm* mainForm) {
  return mainForm != nullptr ? &mainForm->Session() : nullptr;
}

void TMainForm::NetworkOpened(bool open) {
  keyAction_->setVisible(open);
  accessAction_->setText(open ? QStringLiteral("Закрыть сеть для настройки")
                              : QStringLiteral("Открыть сеть для настройки"));
  UpdateCommands();
  Q_EMIT NetworkOpenChanged(open);
}

void TMainForm::UpdateCommands() {
  auto exists = [this](TWindowRole role) { return Window(role) != nullptr; };
  restoreAction_->setEnabled(ToolWindowCount() == 0);
  processesAction_->setEnabled(exists(TWindowRole::Processes));
  reportsAction_->setEnabled(exists(TWindowRole::Reports));
  archivesAction_->setEnabled(exists(TWindowRole::Archives));
  networkTreeAction_->setEnabled(exists(TWindowRole::NetTree));
  alarmsAction_->setEnabled(exists(TWindowRole::Alarms));
  alarmLimitsAction_->setEnabled(NetworkOpen() && EditAlarmLimits != nullptr);
  setupAction_->setEnabled(NetworkOpen() && qobject_cast<QDialog*>(Window(TWindowRole::Setup)) != nullptr);
  saveDescriptionAction_->setEnabled(NetworkOpen() && SaveNetworkDescription != nullptr);
  // Closing never needs anything; opening needs the password question.
  accessAction_->setEnabled(NetworkOpen() || AskPassword != nullptr);
  positionAction_->setEnabled(NetworkOpen() && exists(TWindowRole::XY));
  labelPropertiesAction_->setEnabled(NetworkOpen() && exists(TWindowRole::LabelProperties));
  deleteLabelAction_->setEnabled(NetworkOpen());
  // The commands that only look do not need the network open, only their windows.
  historyAction_->setEnabled(ShowHistory != nullptr);
  printAction_->setEnabled(PrintHistory != nullptr);
  channelAction_->setEnabled(exists(TWindowRole::Channel));
}

void TMainForm::ShowProgramState(const QString& text) {
  // "Работа" and "Останов" are the poller's to say: after a save, a load or a copy they mean the
  // state it is in, which may be stopped (a save inside the network settings window).
  const bool pollerWord = text == kStateWorking || text == kStateStopped;
  statusLine_->SetProgramState(pollerWord ? network_.PollerStateText() : text);
}

QString TMainForm::ProgramState() const {
  return statusLine_->ProgramState();
}

void TMainForm::ShowLineNotice(const QString& text, bool lost) {
  statusLine_->ShowLineNotice(text, lost);
}

void TMainForm::ShowBrokerNotice(const QString& text, const QString& outage) {
  statusLine_->ShowBrokerNotice(text, outage);
}

void TMainForm::UpdateStatePanel() {
  statusLine_->SetAlarmCounts(alarms_ != nullptr ? alarms_->ActiveCount() : 0,
                              alarms_ != nullptr ? alarms_->UnackedCount() : 0);
}

void TMainForm::WindowSet(TWindowRole role, QWidget* window) {
  if (auto* net = qobject_cast<TNetForm*>(window); net != nullptr && role == TWindowRole::NetTree)
    ConnectNetTree(net);
  if (auto* channel = qobject_cast<TChannelForm*>(window);
      channel != nullptr && role == TWindowRole::Channel) {
    // The selected row's register is marked on the pages.
    connect(channel, &TChannelForm::RegisterSelected, labels_, &TMnemoLabels::Mark);
    connect(channel, &TChannelForm::Closed, labels_, &TMnemoLabels::ClearMark);
  }
  if (auto* setup = qobject_cast<TSetupForm*>(window); setup != nullptr && role == TWindowRole::Setup)
    connect(setup, &TSetupForm::SearchFinished, this, &TMainForm::AfterSearch);
  UpdateCommands();
}

void TMainForm::AfterSearch() {
  // The search replaced the trees the windows show: none of their items may be used any more. The
  // settings window then shows the structure window itself, modally over its own.
  if (auto* net = qobject_cast<TNetForm*>(Window(TWindowRole::NetTree))) net->Rebuild();
  Q_EMIT SearchDone();
}

void TMainForm::ConnectNetTree(TNetForm* net) {
  // Selecting a register marks its label; the drop reads the register the tree's drag is of.
  connect(net, &TNetForm::NodeSelected, labels_, &TMnemoLabels::Mark);
  connect(net, &TNetForm::Closed, labels_, &TMnemoLabels::ClearMark);
  labels_->SelectedTreeNode = [net = QPointer<TNetForm>(net)]() -> TRootNode* {
    return net ? net->SelectedNode() : nullptr;
  };
  // The items refer to nodes a restore has replaced.
  connect(this, &TMainForm::StateRestored, net, &TNetForm::Rebuild);
  connect(labels_, &TMnemoLabels::LabelDoubleClicked, net, [this, net](TRegisterNode* reg) {
    OpenNear(TWindowRole::NetTree, 48, 48);
    net->SelectNode(reg);
  });
}

void TMainForm::ShowNearPage(QWidget* window, int x, int y) {
  if (window == nullptr) return;
  QWidget* page = pcMnemo_->currentWidget() != nullptr ? pcMnemo_->currentWidget() : pcMnemo_;
  const QScreen* s = screen() != nullptr ? screen() : QGuiApplication::primaryScreen();
  const QRect area = s != nullptr ? s->geometry() : QRect();
  const QSize outer = window->isVisible() ? window->frameGeometry().size() : window->size();
  window->move(PlaceNearPoint(page->mapToGlobal(QPoint(x, y)), outer, area));
  window->show();
  window->raise();
  window->activateWindow();
}

int TMainForm::ShowModalNearPage(QWidget* window, int x, int y) {
  if (window == nullptr) return QDialog::Rejected;
  auto* dialog = qobject_cast<QDialog*>(window);
  // A window's modality takes effect when it is shown: one already shown (modeless, and so blocked
  // by the modal window that asks) is shown anew.
  if (dialog == nullptr && window->isVisible()) window->hide();
  QWidget* page = pcMnemo_->currentWidget() != nullptr ? pcMnemo_->currentWidget() : pcMnemo_;
  const QScreen* s = screen() != nullptr ? screen() : QGuiApplication::primaryScreen();
  const QRect area = s != nullptr ? s->geometry() : QRect();
  const QSize outer = window->isVisible() ? window->frameGeometry().size() : window->size();
  window->move(PlaceNearPoint(page->mapToGlobal(QPoint(x, y)), outer, area));
  if (dialog != nullptr) return dialog->exec();
  return ExecWindow(*window);
}

void TMainForm::Activate() {
  if (isMinimized()) {
    showNormal();
  } else {
    show();
    raise();
  }
  activateWindow();
}

void TMainForm::SetAlarms(TAlarmMonitor* alarms) {
  if (alarms_ != nullptr) alarms_->Forget(alarmObserver_);
  alarms_ = alarms;
  alarmObserver_ = 0;
  if (alarms_ != nullptr) {
    alarmObserver_ = alarms_->Observe([this](const TAlarmEvent& event) { AlarmEvent(event); });
    labels_->AlarmOf = [alarms](const QString& name) { return alarms->WorstState(name); };
    labels_->ShelvedOf = [alarms](const QString& name) { return alarms->AnyShelved(name); };
  } else {
    labels_->AlarmOf = nullptr;
    labels_->ShelvedOf = nullptr;
  }
  labels_->AlarmsChanged();
  UpdateStatePanel();
}

void TMainForm::AlarmEvent(const TAlarmEvent& event) {
  if (!event.IsAlarm()) return;  // a write asked through the broker changes no alarm
  labels_->AlarmsChanged();
  UpdateStatePanel();
  if (event.Kind == TAlarmEventKind::Raised && event.Priority == kMinAlarmPriority &&
      (!lastAlarmCall_.isValid() || lastAlarmCall_.elapsed() >= kAlarmCallMs)) {
    lastAlarmCall_.start();
    Activate();
    if (AlarmBeep(network_.Alarms().get())) QApplication::beep();
  }
}

void TMainForm::ShowJournalNews(const QString& text) {
  const QString waiting = alarms_ != nullptr ? alarms_->JournalStatusText() : QString();
  // The count stays while events wait; other news (a damaged journal kept aside) is the line's.
  if (waiting.isEmpty() && !text.isEmpty()) ShowLineNotice(text, false);
  statusLine_->SetJournal(waiting, alarms_ != nullptr ? alarms_->JournalError() : QString());
}

void TMainForm::OpenNear(TWindowRole role, int x, int y) {
  ShowNearPage(Window(role), x, y);
}

void TMainForm::RestoreStateCommand() {
  if (ToolWindowCount() != 0) return;
  try {
    LoadNetworkState(network_);
  } catch (const std::exception& e) {
    ShowMessage(QStringLiteral("Ошибка чтения состояния сети: %1").arg(ErrorText(e)), TMsgIcon::Error);
  }
  Q_EMIT StateRestored();
}

void TMainForm::AutoSave() {
  try {
    const TFaults warnings = SaveNetworkState(network_);
    autoSaveFailing_ = false;
    // A file nearing its size bound is told once, until a save no longer warns.
    if (warnings.Empty()) {
      autoSaveWarned_ = false;
    } else if (!std::exchange(autoSaveWarned_, true)) {
      QMetaObject::invokeMethod(
          this, [warnings] { ShowFaults(warnings); }, Qt::QueuedConnection);
    }
  } catch (const std::exception& e) {
    // Told once per streak of failures, not every interval; after the poller's call, which waits.
    if (std::exchange(autoSaveFailing_, true)) return;
    const QString text =
        QStringLiteral("Ошибка автоматического сохранения состояния сети: %1").arg(ErrorText(e));
    QMetaObject::invokeMethod(
        this, [text] { ShowMessage(text, TMsgIcon::Error); }, Qt::QueuedConnection);
  }
}

void TMainForm::SaveStateCommand() {
  try {
    ShowFaults(SaveNetworkState(network_));
  } catch (const std::exception& e) {
    ShowMessage(QStringLiteral("Ошибка сохранения состояния сети: %1").arg(ErrorText(e)), TMsgIcon::Error);
  }
}

void TMainForm::ExitWithoutSaving() {
  closeAsked_ = true;
  close();
}

void TMainForm::SetupCommand() {
  auto* setup = qobject_cast<QDialog*>(Window(TWindowRole::Setup));
  if (!NetworkOpen() || setup == nullptr) return;
  // The poller's own stop and start put "Останов" and "Работа" on the status line.
  network_.StopPoller();
  // Polling comes back however the window ends, an error included.
  const auto restart = qScopeGuard([this] { network_.StartPoller(); });
  ShowModalNearPage(setup, 12, 12);
}

void TMainForm::AccessCommand() {
  if (NetworkOpen())
    SetNetworkOpen(false);
  else if (AskPassword)
    SetNetworkOpen(AskPassword());
}

void TMainForm::DeleteLabelCommand() {
  if (!NetworkOpen()) return;
  // The register stops being polled and its history is emptied as its label goes.
  delete labels_->PopupLabel();
}

void TMainForm::LabelWindowCommand(TWindowRole role) {
  TLabelDisplay* label = labels_->PopupLabel();
  auto* dialog = qobject_cast<QDialog*>(Window(role));
  if (!NetworkOpen() || label == nullptr || dialog == nullptr) return;
  if (auto* xy = qobject_cast<TPositionForm*>(dialog)) xy->SetLabel(label);
  if (auto* properties = qobject_cast<TLabelPropertiesForm*>(dialog)) properties->SetLabel(label);
  // Below the label.
  ShowModalNearPage(dialog, label->Left(), label->Top() + label->Height() + 10);
}

void TMainForm::ChannelCommand() {
  TLabelDisplay* label = labels_->PopupLabel();
  auto* form = qobject_cast<TChannelForm*>(Window(TWindowRole::Channel));
  auto* reg = label != nullptr ? dynamic_cast<TRootNode*>(label->Owner()) : nullptr;
  auto* channel = reg != nullptr ? dynamic_cast<TRootNode*>(reg->Owner()) : nullptr;
  if (form == nullptr || channel == nullptr) return;
  form->SetLabel(label);
  form->SetChannel(channel);
  ShowModalNearPage(form, 12, 12);
}

void TMainForm::HelpCommand() {
  THelpWindow::ShowHelp(hcContents);
}

void TMainForm::AboutCommand() {
  TAboutBox box(this);
  box.exec();
}

void TMainForm::OpenShellUrl(const QString& url) {
  if (!QDesktopServices::openUrl(QUrl(url)))
    ShowMessage(QStringLiteral("Не удается запустить браузер Internet или почтовую программу!"),
                TMsgIcon::Warning);
}

bool TMainForm::CloseQuery() {
  if (closeAsked_) return true;
  const QString question = QStringLiteral("Сохранить текущее состояние сети?");
  const unsigned buttons = shutdownPending_ ? (mbYes | mbNo) : (mbYes | mbNo | mbCancel);
  const TMsgButton answer = ShowMessage(question, TMsgIcon::Question, buttons, mbYes);
  if (answer == mbCancel) return false;
  if (answer == mbYes) {
    try {
      ShowFaults(SaveNetworkState(network_));
    } catch (const std::exception& e) {
      ShowMessage(QStringLiteral("Ошибка сохранения состояния сети: %1").arg(ErrorText(e)), TMsgIcon::Error);
      // The state is not on disk: stay open so the operator can try again, unless the session ends.
      if (!shutdownPending_) return false;
    }
  }
  return true;
}

void TMainForm::closeEvent(QCloseEvent* event) {
  if (!CloseQuery()) {
    event->ignore();
    return;
  }
  network_.TerminatePoller();
  labels_->ClearMark();
  event->accept();
  Q_EMIT Closed();
}

void TMainForm::SessionEnding() {
  shutdownPending_ = true;
  close();
}

bool TMainForm::eventFilter(QObject* watched, QEvent* event) {
  if (watched == keyPicture_ && event->type() == QEvent::MouseButtonRelease) {
    const auto* me = static_cast<QMouseEvent*>(event);
    const Qt::KeyboardModifiers all = Qt::ControlModifier | Qt::ShiftModifier | Qt::AltModifier;
    if (me->button() == Qt::LeftButton && (me->modifiers() & all) == all && NetworkOpen())
      OpenNear(TWindowRole::Registry, 12, 12);
    return true;
  }
  return QMainWindow::eventFilter(watched, event);
}

}  // namespace vexa
