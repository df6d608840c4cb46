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
  restoreAction_ = add(file, "Восстановить состояние сети", &TMainForm::RestoreStateCommand);
  saveAction_ = add(file, "Сохранить состояние сети", &TMainForm::SaveStateCommand);
  file->addSeparator();
  exitWithoutSavingAction_ = add(file, "Выход без сохранения", &TMainForm::ExitWithoutSaving);

  QMenu* tools = menuBar()->addMenu(QStringLiteral("Инструменты"));
  processesAction_ = tools->addAction(QStringLiteral("Шаблоны-Процессы"));
  connect(processesAction_, &QAction::triggered, this, [this] { OpenNear(TWindowRole::Processes, 12, 12); });
  reportsAction_ = tools->addAction(QStringLiteral("Шаблоны-Отчеты"));
  connect(reportsAction_, &QAction::triggered, this, [this] { OpenNear(TWindowRole::Reports, 24, 24); });
  archivesAction_ = tools->addAction(QStringLiteral("Архив отчетов"));
  connect(archivesAction_, &QAction::triggered, this, [this] { OpenNear(TWindowRole::Archives, 36, 36); });
  tools->addSeparator();
  networkTreeAction_ = tools->addAction(QStringLiteral("Структура сети"));
  connect(networkTreeAction_, &QAction::triggered, this, [this] { OpenNear(TWindowRole::NetTree, 48, 48); });
  tools->addSeparator();
  alarmsAction_ = tools->addAction(QStringLiteral("Тревоги"));
  alarmsAction_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_T));
  connect(alarmsAction_, &QAction::triggered, this, [this] { OpenNear(TWindowRole::Alarms, 60, 60); });

  QMenu* settings = menuBar()->addMenu(QStringLiteral("Настройки"));
  setupAction_ = add(settings, "Настройка параметров сети", &TMainForm::SetupCommand);
  saveDescriptionAction_ = settings->addAction(QStringLiteral("Сохранить описание сети"));
  connect(saveDescriptionAction_, &QAction::triggered, this, [this] {
    if (NetworkOpen() && SaveNetworkDescription) SaveNetworkDescription();
  });
  settings->addSeparator();
  accessAction_ = add(settings, "Открыть сеть для настройки", &TMainForm::AccessCommand);

  QMenu* help = menuBar()->addMenu(QStringLiteral("Справка"));
  helpAction_ = add(help, "Вызов справки", &TMainForm::HelpCommand);
  help->addSeparator();
  aboutAction_ = add(help, "О программе", &TMainForm::AboutCommand);
  help->addSeparator();
  webAction_ = help->addAction(QStringLiteral("Дравонел на Web"));
  connect(webAction_, &QAction::triggered, this, [this] { OpenShellUrl(kMakerWebPage); });
  mailAction_ = help->addAction(QStringLiteral("Послать E-mail"));
  connect(mailAction_, &QAction::triggered, this, [this] { OpenShellUrl(kMakerMail); });

  popupMenu1_ = new QMenu(this);
  popupMenu1_->setObjectName(QStringLiteral("labelMenu"));
  historyAction_ = popupMenu1_->addAction(QStringLiteral("История"));
  printAction_ = popupMenu1_->addAction(QStringLiteral("Печать"));
  channelAction_ = popupMenu1_->addAction(QStringLiteral("Канал полностью"));
  popupMenu1_->addSeparator();
  positionAction_ = popupMenu1_->addAction(QStringLiteral("X-Y"));
  labelPropertiesAction_ = popupMenu1_->addAction(QStringLiteral("Свойства ярлыка"));
  alarmLimitsAction_ = popupMenu1_->addAction(QStringLiteral("Уставки тревог"));
  popupMenu1_->addSeparator();
  deleteLabelAction_ = popupMenu1_->addAction(QStringLiteral("Удалить"));
  connect(deleteLabelAction_, &QAction::triggered, this, &TMainForm::DeleteLabelCommand);
  // Every command has a name of its own, by which it is found from outside the window.
  restoreAction_->setObjectName(QStringLiteral("restoreAction"));
  saveAction_->setObjectName(QStringLiteral("saveAction"));
  exitWithoutSavingAction_->setObjectName(QStringLiteral("exitWithoutSavingAction"));
  processesAction_->setObjectName(QStringLiteral("processesAction"));
  reportsAction_->setObjectName(QStringLiteral("reportsAction"));
  archivesAction_->setObjectName(QStringLiteral("archivesAction"));
  networkTreeAction_->setObjectName(QStringLiteral("networkTreeAction"));
  setupAction_->setObjectName(QStringLiteral("setupAction"));
  saveDescriptionAction_->setObjectName(QStringLiteral("saveDescriptionAction"));
  accessAction_->setObjectName(QStringLiteral("accessAction"));
  helpAction_->setObjectName(QStringLiteral("helpAction"));
  aboutAction_->setObjectName(QStringLiteral("aboutAction"));
  webAction_->setObjectName(QStringLiteral("webAction"));
  mailAction_->setObjectName(QStringLiteral("mailAction"));
  historyAction_->setObjectName(QStringLiteral("historyAction"));
  printAction_->setObjectName(QStringLiteral("printAction"));
  channelAction_->setObjectName(QStringLiteral("channelAction"));
  positionAction_->setObjectName(QStringLiteral("positionAction"));
  labelPropertiesAction_->setObjectName(QStringLiteral("labelPropertiesAction"));
  deleteLabelAction_->setObjectName(QStringLiteral("deleteLabelAction"));
  alarmsAction_->setObjectName(QStringLiteral("alarmsAction"));
  alarmLimitsAction_->setObjectName(QStringLiteral("alarmLimitsAction"));
  connect(alarmLimitsAction_, &QAction::triggered, this, [this] {
    TLabelDisplay* label = labels_->PopupLabel();
    if (NetworkOpen() && label != nullptr && label->Owner() != nullptr && EditAlarmLimits)
      EditAlarmLimits(label->Owner()->Name());
  });
  // The hooks behind the label commands may be given after the window was made.
  connect(popupMenu1_, &QMenu::aboutToShow, this, &TMainForm::UpdateCommands);
  connect(historyAction_, &QAction::triggered, this, [this] {
    if (TLabelDisplay* label = labels_->PopupLabel(); label != nullptr && ShowHistory) ShowHistory(*label);
  });
  connect(channelAction_, &QAction::triggered, this, &TMainForm::ChannelCommand);
  connect(printAction_, &QAction::triggered, this, [this] {
    if (TLabelDisplay* label = labels_->PopupLabel(); label != nullptr && PrintHistory) PrintHistory(*label);
  });
  connect(positionAction_, &QAction::triggered, this, [this] { LabelWindowCommand(TWindowRole::XY); });
  connect(labelPropertiesAction_, &QAction::triggered, this,
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
  button(restoreAction_, iiOPEN);
  button(saveAction_, iiSAVE);
  toolBar_->addSeparator();
  button(processesAction_, iiCYCLOS);
  button(reportsAction_, iiPROCESSES);
  button(archivesAction_, iiARCHIVES);
  toolBar_->addSeparator();
  button(networkTreeAction_, iiTREE);
  alarmsAction_->setToolTip(alarmsAction_->text());
  alarmsAction_->setIcon(AlarmIcon());
  toolBar_->addAction(alarmsAction_);
  if (QWidget* w = toolBar_->widgetForAction(alarmsAction_)) w->setFixedSize(23, 23);
  // Menus show no pictures; only the toolbar does.
  for (QAction* a : {restoreAction_, saveAction_, processesAction_, reportsAction_, archivesAction_,
                     networkTreeAction_, alarmsAction_})
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
