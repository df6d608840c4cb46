// The main window's menus, its toolbar and the label's pop-up menu: which commands there are and
// what each runs.
#include <QAction>
#include <QApplication>
#include <QKeySequence>
#include <QLabel>
#include <QMenuBar>
#include <QPainter>
#include <QPolygonF>
#include <QTabWidget>
#include <QToolBar>

#include "core/ImageIndex.h"
#include "core/Network.h"
#include "core/Services.h"
#include "ui/LabelViews.h"
#include "ui/MainUnit.h"
#include "ui/parts/HelpUnit.h"
#include "ui/parts/ImageList.h"
#include "ui/parts/Tell.h"

namespace vexa {

namespace {
const QString kMakerWebPage = QStringLiteral("https://dravonel.example/");
const QString kMakerMail = QStringLiteral("mailto:support@dravonel.example");
}  // namespace

void TMainForm::CreateMenus() {
  auto add = [this](QMenu* menu, const char* text, void (TMainForm::*slot)()) {
    QAction* a = menu->addAction(QString::fromUtf8(text));
    if (slot != nullptr) connect(a, &QAction::triggered, this, slot);
    return a;
  };
  QMenu* file = menuBar()->addMenu(QStringLiteral("Файл"));
  actRestore = add(file, "Восстановить состояние сети", &TMainForm::RestoreStateCommand);
  actSave = add(file, "Сохранить состояние сети", &TMainForm::SaveStateCommand);
  file->addSeparator();
  actExitNoSave = add(file, "Выход без сохранения", &TMainForm::ExitWithoutSaving);

  QMenu* tools = menuBar()->addMenu(QStringLiteral("Инструменты"));
  actProcesses = tools->addAction(QStringLiteral("Шаблоны-Процессы"));
  connect(actProcesses, &QAction::triggered, this, [this] { OpenNear(TWindowRole::Processes, 12, 12); });
  actReports = tools->addAction(QStringLiteral("Шаблоны-Отчеты"));
  connect(actReports, &QAction::triggered, this, [this] { OpenNear(TWindowRole::Reports, 24, 24); });
  actArchives = tools->addAction(QStringLiteral("Архив отчетов"));
  connect(actArchives, &QAction::triggered, this, [this] { OpenNear(TWindowRole::Archives, 36, 36); });
  tools->addSeparator();
  actNetTree = tools->addAction(QStringLiteral("Структура сети"));
  connect(actNetTree, &QAction::triggered, this, [this] { OpenNear(TWindowRole::NetTree, 48, 48); });
  tools->addSeparator();
  actAlarms = tools->addAction(QStringLiteral("Тревоги"));
  actAlarms->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_T));
  connect(actAlarms, &QAction::triggered, this, [this] { OpenNear(TWindowRole::Alarms, 60, 60); });

  QMenu* settings = menuBar()->addMenu(QStringLiteral("Настройки"));
  actSetup = add(settings, "Настройка параметров сети", &TMainForm::SetupCommand);
  actSaveDescription = settings->addAction(QStringLiteral("Сохранить описание сети"));
  connect(actSaveDescription, &QAction::triggered, this, [this] {
    if (NetworkOpen() && SaveNetworkDescription) SaveNetworkDescription();
  });
  settings->addSeparator();
  actAccess = add(settings, "Открыть сеть для настройки", &TMainForm::AccessCommand);

  QMenu* help = menuBar()->addMenu(QStringLiteral("Справка"));
  actHelp = add(help, "Вызов справки", &TMainForm::HelpCommand);
  help->addSeparator();
  actAbout = add(help, "О программе", &TMainForm::AboutCommand);
  help->addSeparator();
  actWeb = help->addAction(QStringLiteral("Дравонел на Web"));
  connect(actWeb, &QAction::triggered, this, [this] { OpenShellUrl(kMakerWebPage); });
  actMail = help->addAction(QStringLiteral("Послать E-mail"));
  connect(actMail, &QAction::triggered, this, [this] { OpenShellUrl(kMakerMail); });

  popupMenu1_ = new QMenu(this);
  popupMenu1_->setObjectName(QStringLiteral("labelMenu"));
  actHistory = popupMenu1_->addAction(QStringLiteral("История"));
  actPrint = popupMenu1_->addAction(QStringLiteral("Печать"));
  actChannel = popupMenu1_->addAction(QStringLiteral("Канал полностью"));
  popupMenu1_->addSeparator();
  actXY = popupMenu1_->addAction(QStringLiteral("X-Y"));
  actLabelProperties = popupMenu1_->addAction(QStringLiteral("Свойства ярлыка"));
  actAlarmLimits = popupMenu1_->addAction(QStringLiteral("Уставки тревог"));
  popupMenu1_->addSeparator();
  actDeleteLabel = popupMenu1_->addAction(QStringLiteral("Удалить"));
  connect(actDeleteLabel, &QAction::triggered, this, &TMainForm::DeleteLabelCommand);
  // Every command has a name of its own, by which it is found from outside the window.
  actRestore->setObjectName(QStringLiteral("restoreAction"));
  actSave->setObjectName(QStringLiteral("saveAction"));
  actExitNoSave->setObjectName(QStringLiteral("exitWithoutSavingAction"));
  actProcesses->setObjectName(QStringLiteral("processesAction"));
  actReports->setObjectName(QStringLiteral("reportsAction"));
  actArchives->setObjectName(QStringLiteral("archivesAction"));
  actNetTree->setObjectName(QStringLiteral("networkTreeAction"));
  actSetup->setObjectName(QStringLiteral("setupAction"));
  actSaveDescription->setObjectName(QStringLiteral("saveDescriptionAction"));
  actAccess->setObjectName(QStringLiteral("accessAction"));
  actHelp->setObjectName(QStringLiteral("helpAction"));
  actAbout->setObjectName(QStringLiteral("aboutAction"));
  actWeb->setObjectName(QStringLiteral("webAction"));
  actMail->setObjectName(QStringLiteral("mailAction"));
  actHistory->setObjectName(QStringLiteral("historyAction"));
  actPrint->setObjectName(QStringLiteral("printAction"));
  actChannel->setObjectName(QStringLiteral("channelAction"));
  actXY->setObjectName(QStringLiteral("positionAction"));
  actLabelProperties->setObjectName(QStringLiteral("labelPropertiesAction"));
  actDeleteLabel->setObjectName(QStringLiteral("deleteLabelAction"));
  actAlarms->setObjectName(QStringLiteral("alarmsAction"));
  actAlarmLimits->setObjectName(QStringLiteral("alarmLimitsAction"));
  connect(actAlarmLimits, &QAction::triggered, this, [this] {
    TLabelDisplay* label = labels_->PopupLabel();
    if (NetworkOpen() && label != nullptr && label->Owner() != nullptr && EditAlarmLimits)
      EditAlarmLimits(label->Owner()->Name());
  });
  // The hooks behind the label commands may be given after the window was made.
  connect(popupMenu1_, &QMenu::aboutToShow, this, &TMainForm::UpdateCommands);
  connect(actHistory, &QAction::triggered, this, [this] {
    if (TLabelDisplay* label = labels_->PopupLabel(); label != nullptr && ShowHistory) ShowHistory(*label);
  });
  connect(actChannel, &QAction::triggered, this, &TMainForm::ChannelCommand);
  connect(actPrint, &QAction::triggered, this, [this] {
    if (TLabelDisplay* label = labels_->PopupLabel(); label != nullptr && PrintHistory) PrintHistory(*label);
  });
  connect(actXY, &QAction::triggered, this, [this] { LabelWindowCommand(TWindowRole::XY); });
  connect(actLabelProperties, &QAction::triggered, this,
          [this] { LabelWindowCommand(TWindowRole::LabelProperties); });
}

void TMainForm::CreateToolBar() {
  toolBar_ = addToolBar(QStringLiteral("ToolBar1"));
  toolBar_->setObjectName(QStringLiteral("toolBar"));
  toolBar_->setMovable(false);
  toolBar_->setFloatable(false);
  toolBar_->setContextMenuPolicy(Qt::PreventContextMenu);
  toolBar_->setFixedHeight(30);
  toolBar_->setIconSize(QSize(16, 16));
  toolBar_->setToolButtonStyle(Qt::ToolButtonIconOnly);
  auto button = [this](QAction* action, int image) {
    action->setIcon(ImageIcon(image));
    action->setToolTip(action->text());
    toolBar_->addAction(action);
    if (QWidget* w = toolBar_->widgetForAction(action)) w->setFixedSize(23, 23);
  };
  button(actRestore, iiOPEN);
  button(actSave, iiSAVE);
  toolBar_->addSeparator();
  button(actProcesses, iiCYCLOS);
  button(actReports, iiPROCESSES);
  button(actArchives, iiARCHIVES);
  toolBar_->addSeparator();
  button(actNetTree, iiTREE);
  actAlarms->setToolTip(actAlarms->text());
  actAlarms->setIcon(AlarmIcon());
  toolBar_->addAction(actAlarms);
  if (QWidget* w = toolBar_->widgetForAction(actAlarms)) w->setFixedSize(23, 23);
  // Menus show no pictures; only the toolbar does.
  for (QAction* a : {actRestore, actSave, actProcesses, actReports, actArchives, actNetTree, actAlarms})
    a->setIconVisibleInMenu(false);

  auto* filler = new QWidget(toolBar_);
  filler->setObjectName(QStringLiteral("Panel1"));
  filler->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
  toolBar_->addWidget(filler);

  keyPicture_ = new QLabel(toolBar_);
  keyPicture_->setObjectName(QStringLiteral("keyPicture"));
  keyPicture_->setFixedSize(25, 23);
  QPixmap key(25, 23);
  key.fill(toolBar_->palette().color(QPalette::Window));
  {
    QPainter p(&key);
    p.drawPixmap(0, 0, ImagePixmap(iiKEY));
  }
  keyPicture_->setPixmap(key);
  keyPicture_->installEventFilter(this);
  // A widget on a toolbar is shown and hidden through its action.
  keyAction_ = toolBar_->addWidget(keyPicture_);
}

}  // namespace vexa
