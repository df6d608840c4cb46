#include "ui/app/Program.h"

#include <QApplication>
#include <QScopeGuard>
#include <QTimer>
#include <utility>

#include "alarms/gui/AlarmLimitsUnit.h"
#include "alarms/gui/AlarmsUnit.h"
#include "alarms/model/AlarmMonitor.h"
#include "broker/BrokerLink.h"
#include "core/Comm.h"
#include "core/ExecuterUnit.h"
#include "core/Network.h"
#include "core/Services.h"
#include "historian/Historian.h"
#include "processes/gui/CycloEditUnit.h"
#include "processes/gui/TasksUnit.h"
#include "reports/gui/PrintPreviewUnit.h"
#include "reports/gui/ReportPropertiesUnit.h"
#include "reports/gui/ReportsUnit.h"
#include "storage/AtomicFile.h"
#include "storage/StartUp.h"
#include "ui/ChannelUnit.h"
#include "ui/HistoryUnit.h"
#include "ui/LabelPropertiesUnit.h"
#include "ui/MainUnit.h"
#include "ui/PositionUnit.h"
#include "ui/RdWarnUnit.h"
#include "ui/config/ArchivesUnit.h"
#include "ui/config/NetDescriptionSave.h"
#include "ui/config/NetUnit.h"
#include "ui/config/PasswordUnit.h"
#include "ui/config/RegisterPropertiesUnit.h"
#include "ui/config/RegistryUnit.h"
#include "ui/config/RootPropertiesUnit.h"
#include "ui/config/SetupUnit.h"
#include "ui/model/TickRunner.h"
#include "ui/parts/Tell.h"
#include "web/WebLink.h"

namespace vexa {

// --- the program -------------------------------------------------------------------------------

// One window of the start-up order. Create is null for a window the program does not have yet; it
// takes its place here when it is written.
struct TProgram::TWindowStep {
  const char* Caption;
  void (TProgram::*Create)();
};

const std::vector<TProgram::TWindowStep>& TProgram::WindowSteps() {
  // Several windows do essential work while they are created, so this order matters.
  static const std::vector<TWindowStep> steps = {
      {"Vexa", &TProgram::CreateMain},
      {"Ждите ...", &TProgram::CreateWait},
      {"Структура сети", &TProgram::CreateNetTree},
      {"Свойства узла", &TProgram::CreateNodeProperties},
      {"Свойства регистра", &TProgram::CreateRegisterProperties},
      {"Свойства ярлыка", &TProgram::CreateLabelProperties},
      {"X-Y", &TProgram::CreatePosition},
      {"Архив отчетов", &TProgram::CreateArchives},
      {"Шаблоны-Отчеты", &TProgram::CreateReports},
      {"Свойства отчета", &TProgram::CreateReportProperties},
      {"Шаблоны-Процессы", &TProgram::CreateProcesses},
      {"Редактор циклограмм", &TProgram::CreateCycloEdit},
      {"Предварительный просмотр", &TProgram::CreatePrintPreview},
      {"Введите пароль", &TProgram::CreatePassword},
      {"Канал", &TProgram::CreateChannel},
      // Restores the settings, opens the port and restores the network state.
      {"Настройка параметров сети", &TProgram::CreateSetup},
      {"Шаблоны каналов", &TProgram::CreateRegistry},
  };
  return steps;
}

TProgram::TProgram(const QString& exeDir) : exeDir_(exeDir) {
  if (exeDir_.size() > 1 && (exeDir_.endsWith(QLatin1Char('/')) || exeDir_.endsWith(QLatin1Char('\\'))))
    exeDir_.chop(1);
}

TProgram::~TProgram() {
  Shutdown();
}

void TProgram::InitCore(std::unique_ptr<TCustomComm> comm) {
  Services().Format = TFormatSettings::FromSystem();
  network_ = std::make_unique<TNetwork>(exeDir_, std::move(comm));
  network_->StartPoller();
  ticks_ = std::make_unique<TTickRunner>(*network_, [](const TFaults& faults) { ShowFaults(faults); });
}

bool TProgram::CheckSingleInstance() {
  const QString folder = instancePerFolder_ ? exeDir_ : QString();
  if (TSingleInstance::OtherInstanceRunning(folder)) {
    const TMsgButton answer =
        ShowMessage(QStringLiteral("Обнаружена запущенная копия программы.\r\nЗапустить новую копию?"),
                    TMsgIcon::Question, mbYes | mbNo, mbNo);
    if (answer == mbYes) return true;  // a second copy, announcing nothing
    TSingleInstance::ActivateOtherInstance(3000, folder);
    return false;
  }
  instance_.OnActivate = [this] {
    if (mainForm_) mainForm_->Activate();
  };
  instance_.Acquire(folder);  // failing to announce this copy is taken as no other copy running
  return true;
}

bool TProgram::TakeFolder() {
  switch (folderLock_.Take(exeDir_, QStringLiteral("vexa"))) {
    case TFolderLock::TOutcome::Busy:
      folderRefused_ = true;
      instance_.Release();  // this copy does not run: a later start must not be handed over to it
      ShowMessage(FolderBusyText(exeDir_, folderLock_.Holder()) +
                      QStringLiteral("\r\nДве программы в одной папке затёрли бы сохранения друг друга.\r\n"
                                     "Закройте её или дождитесь её завершения и запустите Vexa снова."),
                  TMsgIcon::Error);
      return false;
    case TFolderLock::TOutcome::Unavailable:
      // Unlocked, nothing would keep a second writer out.
      folderRefused_ = true;
      instance_.Release();
      ShowMessage(FolderLockFailedText(exeDir_, folderLock_.Why()) +
                      QStringLiteral("\r\nБез замка две программы в одной папке затёрли бы сохранения друг "
                                     "друга.\r\nИсправьте папку и запустите Vexa снова."),
                  TMsgIcon::Error);
      return false;
    case TFolderLock::TOutcome::Taken:
      break;
  }
  RemoveStaleTemporariesOfProgramFolder(exeDir_);
  return true;
}

void TProgram::CreateWindows() {
  for (const TWindowStep& step : WindowSteps()) {
    if (step.Create == nullptr) continue;
    (this->*step.Create)();
    created_ << QString::fromUtf8(step.Caption);
  }
  StartAlarms();
  StartHistorian();
}

void TProgram::StartHistorian() {
  // The one running writes what it holds before the new one opens the file.
  if (historian_) historian_->Finish(2000);
  historian_ = vexa::StartHistorian(
      *network_, [main = mainForm_.get()](const QString& text) { main->ShowLineNotice(text, false); });
}

void TProgram::StartAlarms() {
  alarms_ = std::make_unique<TAlarmMonitor>(*network_);
  ShowFaults(alarms_->Open());
  alarms_->Attach();
  // Events waiting for the journal, told in the status line until they are written.
  alarms_->JournalNews = [main = mainForm_.get()](const QString& text) { main->ShowJournalNews(text); };
  // Shelvings and delays run out between reads too.
  alarmTick_ = std::make_unique<QTimer>();
  connect(alarmTick_.get(), &QTimer::timeout, this, [this] { alarms_->Tick(); });
  alarmTick_->start(1000);
  TMainForm* main = mainForm_.get();
  auto* form = Keep(std::make_unique<TAlarmsForm>(*network_, *alarms_, &main->Session()));
  form->NetworkOpen = [main] { return main->NetworkOpen(); };
  main->SetWindow(TWindowRole::Alarms, form);
  main->SetAlarms(alarms_.get());
  const auto editLimits = [this, main](const QString& name) {
    if (main->NetworkOpen()) EditAlarmLimits(*network_, alarms_.get(), name, main);
  };
  main->EditAlarmLimits = editLimits;
  if (auto* net = qobject_cast<TNetForm*>(main->Window(TWindowRole::NetTree)))
    net->EditAlarmLimits = editLimits;
  // A restore or a search replaced the trees: the alarms read them again.
  connect(main, &TMainForm::StateRestored, this, [this] { alarms_->Rebuild(); });
  connect(main, &TMainForm::SearchDone, this, [this] { alarms_->Rebuild(); });
  StartBroker();
  StartWeb();
  if (auto* setup = qobject_cast<TSetupForm*>(main->Window(TWindowRole::Setup))) {
    connect(setup, &TSetupForm::BrokerSettingsChanged, this, &TProgram::StartBroker);
    connect(setup, &TSetupForm::WebSettingsChanged, this, &TProgram::StartWeb);
    connect(setup, &TSetupForm::HistorySettingsChanged, this, &TProgram::StartHistorian);
  }
}

void TProgram::StopBroker() {
  if (!broker_) return;
  alarms_->Forget(brokerAlarms_);
  broker_->Stop();
  broker_.reset();
}

void TProgram::StartBroker() {
  StopBroker();
  const TBrokerSettings settings = LoadBrokerSettings(network_->Dir());
  // A file that cannot be used is told, as vexa-cli tells it, and nothing is published.
  if (const QStringList problems = settings.Problems();
      !problems.isEmpty() && (settings.Enabled() || !settings.FileProblems.isEmpty())) {
    const QString notice = QStringLiteral("MQTT: не публикуется: ") + problems.first();
    mainForm_->ShowBrokerNotice(notice, notice);
    ShowMessage(QStringLiteral("Публикация в брокер MQTT отключена: %1\r\n%2")
                    .arg(BrokerSettingsPath(network_->Dir()), problems.join(QStringLiteral("\r\n"))),
                TMsgIcon::Warning);
    return;
  }
  if (!settings.Enabled()) return;
  broker_ = std::make_unique<TBrokerLink>(*network_, BrokerOptionsFor(settings, network_->Dir()));
  // The broker's news (connected, lost, messages dropped) in the status line.
  broker_->News = [main = mainForm_.get(), broker = broker_.get()](const QString& text) {
    const TBrokerState state = broker->State();
    const bool out = state == TBrokerState::Lost || state == TBrokerState::Refused;
    main->ShowBrokerNotice(text, out ? broker->StateText() : QString());
  };
  // Alarm events out to the broker, writes from it into the journal.
  brokerAlarms_ = broker_->JoinAlarms(*alarms_);
  broker_->Start();
}

void TProgram::StartWeb() {
  web_.reset();
  const TWebSettings settings = LoadWebSettings(network_->Dir());
  // As the broker's: a file that cannot be used is told, and nothing is served.
  if (const QStringList problems = settings.Problems(); settings.Enabled && !problems.isEmpty()) {
    ShowMessage(QStringLiteral("Веб-доступ отключён: %1\r\n%2")
                    .arg(WebSettingsPath(network_->Dir()), problems.join(QStringLiteral("\r\n"))),
                TMsgIcon::Warning);
    return;
  }
  if (!settings.Enabled) return;
  web_ = std::make_unique<TWebLink>(*network_, alarms_.get(),
                                    TWebLinkOptions{settings, LoadWebUsers(network_->Dir()), {}, 100});
  QString why;
  if (!web_->Start(&why)) {
    web_.reset();
    mainForm_->ShowLineNotice(why, false);
    return;
  }
  // A restore or a search that replaces a tree is seen by the link itself, which makes the pages again.
  mainForm_->ShowLineNotice(QStringLiteral("Веб-доступ: %1").arg(web_->Url()), false);
}

void TProgram::CreateMain() {
  mainForm_ = std::make_unique<TMainForm>(*network_);
  mainForm_->ShowHistory = [main = mainForm_.get()](TLabelDisplay& label) { ShowLabelHistory(*main, label); };
  connect(mainForm_.get(), &TMainForm::Closed, this, [this] {
    if (looping_) QCoreApplication::exit(0);
  });
}

template <class W>
W* TProgram::Keep(std::unique_ptr<W> window) {
  W* w = window.get();
  windows_.push_back(std::move(window));
  return w;
}

void TProgram::CreateNetTree() {
  mainForm_->SetWindow(TWindowRole::NetTree,
                       Keep(std::make_unique<TNetForm>(*network_, &mainForm_->Session())));
}

void TProgram::CreateNodeProperties() {
  mainForm_->SetWindow(TWindowRole::NodeProperties, Keep(std::make_unique<TRootPropertiesForm>()));
}

void TProgram::CreateRegisterProperties() {
  mainForm_->SetWindow(TWindowRole::RegisterProperties,
                       Keep(std::make_unique<TRegisterPropertiesForm>(*network_)));
}

void TProgram::CreateLabelProperties() {
  mainForm_->SetWindow(TWindowRole::LabelProperties,
                       Keep(std::make_unique<TLabelPropertiesForm>(mainForm_.get())));
}

void TProgram::CreatePosition() {
  mainForm_->SetWindow(TWindowRole::XY, Keep(std::make_unique<TPositionForm>(mainForm_.get())));
}

void TProgram::CreateArchives() {
  mainForm_->SetWindow(TWindowRole::Archives,
                       Keep(std::make_unique<TArchivesForm>(*network_, mainForm_.get())));
}

void TProgram::CreateReports() {
  // Its tick runs from now to shutdown, whether the window is shown or not.
  auto* reports = Keep(std::make_unique<TReportsForm>(*network_, &mainForm_->Session()));
  ticks_->SetStep(TTick::Reports, [reports] { return reports->Tick(); });
  ticks_->Timer(TTick::Reports).Start();
  mainForm_->SetWindow(TWindowRole::Reports, reports);
  connect(mainForm_.get(), &TMainForm::StateRestored, reports, &TReportsForm::Rebuild);
  connect(mainForm_.get(), &TMainForm::SearchDone, reports, &TReportsForm::Rebuild);
}

void TProgram::CreateReportProperties() {
  mainForm_->SetWindow(TWindowRole::ReportProperties, Keep(std::make_unique<TReportPropertiesForm>()));
}

void TProgram::CreateProcesses() {
  // Its tick runs from now to shutdown, whether the window is shown or not.
  auto* tasks = Keep(std::make_unique<TTasksForm>(*network_, &mainForm_->Session()));
  ticks_->SetStep(TTick::Processes, [tasks] { return tasks->Tick(); });
  ticks_->Timer(TTick::Processes).Start();
  mainForm_->SetWindow(TWindowRole::Processes, tasks);
  // Its trees are replaced by a restore or a search.
  connect(mainForm_.get(), &TMainForm::StateRestored, tasks, &TTasksForm::Rebuild);
  connect(mainForm_.get(), &TMainForm::SearchDone, tasks, &TTasksForm::Rebuild);
}

void TProgram::CreateCycloEdit() {
  mainForm_->SetWindow(TWindowRole::CycloEdit,
                       Keep(std::make_unique<TCycloEditForm>(*network_, &mainForm_->Session())));
}

void TProgram::CreatePrintPreview() {
  auto* preview = Keep(std::make_unique<TPrintPreviewForm>(&mainForm_->Session()));
  mainForm_->SetWindow(TWindowRole::PrintPreview, preview);
  if (auto* props =
          qobject_cast<TRegisterPropertiesForm*>(mainForm_->Window(TWindowRole::RegisterProperties)))
    preview->EditRegister = [props](TRegisterNode& reg) { return props->ExecuteForPrinting(reg); };
  if (auto* props = qobject_cast<TReportPropertiesForm*>(mainForm_->Window(TWindowRole::ReportProperties)))
    preview->EditHeaderFooter = [props](TReportNode& report) { return props->ExecuteHeaderFooter(report); };
  mainForm_->PrintHistory = [preview](TLabelDisplay& label) { PreviewLabelHistory(*preview, label); };
  // The archive window and the reports window hand over a report that lives for this showing only.
  const auto show = [preview](TReportNode& report) {
    preview->SetReport(&report);
    preview->Execute();
    preview->SetReport(nullptr);
  };
  if (auto* archives = qobject_cast<TArchivesForm*>(mainForm_->Window(TWindowRole::Archives)))
    archives->Preview = show;
  if (auto* reports = qobject_cast<TReportsForm*>(mainForm_->Window(TWindowRole::Reports)))
    reports->Preview = show;
}

void TProgram::CreatePassword() {
  mainForm_->SetWindow(TWindowRole::Password,
                       Keep(std::make_unique<TPasswordDlg>(*network_, mainForm_.get())));
  mainForm_->AskPassword = [this, main = mainForm_.get()] { return vexa::AskPassword(*network_, main); };
}

void TProgram::CreateSetup() {
  mainForm_->SetWindow(TWindowRole::Setup, Keep(std::make_unique<TSetupForm>(*network_, mainForm_.get())));
  RunSetupWork();
}

void TProgram::CreateRegistry() {
  auto* registry = Keep(std::make_unique<TRegistryForm>(*network_, mainForm_.get()));
  mainForm_->SetWindow(TWindowRole::Registry, registry);
  // Its items refer to the templates tree, which a search or a restore replaces.
  connect(mainForm_.get(), &TMainForm::SearchDone, registry, &TRegistryForm::Rebuild);
  connect(mainForm_.get(), &TMainForm::StateRestored, registry, &TRegistryForm::Rebuild);
}

void TProgram::CreateChannel() {
  mainForm_->SetWindow(TWindowRole::Channel,
                       Keep(std::make_unique<TChannelForm>(*network_, mainForm_.get())));
  mainForm_->SaveNetworkDescription = [this, main = mainForm_.get()] {
    SaveNetworkDescriptionDialog(*network_, main);
  };
}

void TProgram::CreateWait() {
  waitForm_ = std::make_unique<TRdWarnForm>();
  waitForm_->show();
  waitForm_->repaint();
  QCoreApplication::processEvents();
}

void TProgram::RunSetupWork() {
  // The wait window goes whatever happens below.
  const auto closeWait = qScopeGuard([this] { waitForm_.reset(); });
  try {
    const TFaults faults = RunSetupStartUp(*network_, [this](const QString& caption) {
      if (waitForm_) waitForm_->SetStatus(caption);
      Q_EMIT StartUpProgress(caption);
    });
    for (const QString& text : faults.Texts()) ShowMessage(text, TMsgIcon::Error);
  } catch (const std::exception& e) {
    ShowMessage(QStringLiteral("Ошибка запуска: %1").arg(QString::fromUtf8(e.what())), TMsgIcon::Error);
  }
}

int TProgram::Exec() {
  if (!mainForm_) return 0;
  mainForm_->show();
  looping_ = true;
  const int rc = QCoreApplication::exec();
  looping_ = false;
  return rc;
}

void TProgram::Shutdown() {
  if (shutDown_) return;
  shutDown_ = true;
  if (network_) network_->StopPoller();
  ticks_.reset();
  alarmTick_.reset();
  StopBroker();
  web_.reset();
  if (historian_) historian_->Finish(2000);
  waitForm_.reset();
  windows_.clear();
  mainForm_.reset();
  alarms_.reset();
  instance_.Release();
  network_.reset();
  folderLock_.Release();
}

bool TProgram::Start() {
  if (!CheckSingleInstance() || !TakeFolder()) return false;
  CreateWindows();
  return true;
}

int TProgram::Run() {
  InitCore(std::make_unique<TComm>(exeDir_));
  const int rc = Start() ? Exec() : (folderRefused_ ? 1 : 0);
  Shutdown();
  return rc;
}

}  // namespace vexa
