// The alarms as the operator meets them: a label flashing once its register passes a limit, the
// count in the status line, acknowledged from the alarm window; the journal filtered and exported,
// with the writes asked through the broker; the limits dialog only while the network is open.

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QDateTimeEdit>
#include <QDir>
#include <QFile>
#include <QHelpEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <QToolTip>
#include <QTreeWidget>
#include <memory>

#include "OperatorInput.h"
#include "alarms/gui/AlarmLimitsUnit.h"
#include "alarms/gui/AlarmsUnit.h"
#include "alarms/model/AlarmJournal.h"
#include "alarms/model/AlarmLimits.h"
#include "alarms/model/AlarmMonitor.h"
#include "alarms/model/AlarmNode.h"
#include "alarms/model/AlarmTexts.h"
#include "broker/BrokerSettings.h"
#include "core/Comm.h"
#include "core/Network.h"
#include "core/RegisterNode.h"
#include "storage/TreeFiles.h"
#include "support/Child.h"
#include "support/ForeignLock.h"
#include "support/RealMessageBox.h"
#include "support/TestSupport.h"
#include "support/Trees.h"
#include "tests/broker/MosquittoBroker.h"
#include "ui/LabelViews.h"
#include "ui/MainUnit.h"
#include "ui/app/Program.h"
#include "ui/model/LabelDisplay.h"

namespace vexa::test {
namespace {

class AlarmsWindowTest : public TVexaTest {
 protected:
  void SetUp() override {
    TVexaTest::SetUp();
    QDir(Dir->path()).mkpath(QStringLiteral("Config"));
    QDir(Dir->path()).mkpath(QStringLiteral("Archives"));
    QImage image(300, 200, QImage::Format_RGB32);
    image.fill(Qt::white);
    image.save(Dir->filePath(QStringLiteral("a.png")), "PNG");
    Settings()->SetMNames({QStringLiteral("Котельная")});
    Settings()->SetMFiles({Dir->filePath(QStringLiteral("a.png"))});
    ASSERT_TRUE(SaveTreeFile(Current(), *Settings()));
    TRootNode& channel = AddChannelNode(AddRegulatorNode(*Net(), 1), 0);
    for (int r = 1; r <= 2; ++r) {
      // Polled: the alarms follow only what is read.
      TRegisterNode& reg =
          AddRegisterNode(channel, r, {.Caption = QStringLiteral("Температура %1").arg(r), .Enabled = true});
      regs.push_back(&reg);
      AddHighAlarm(Current(), reg.Name(), {.Deadband = 2});
    }
    main = std::make_unique<TMainForm>(Current());
    PlaceLabel(*regs[0], QStringLiteral("ts0"), 20, 20);
    monitor = std::make_unique<TAlarmMonitor>(Current());
    ASSERT_TRUE(monitor->Open().Texts().isEmpty());
    monitor->Attach();
    main->SetAlarms(monitor.get());
    main->EditAlarmLimits = [this](const QString& name) {
      EditAlarmLimits(Current(), monitor.get(), name, main.get());
    };
    form = std::make_unique<TAlarmsForm>(Current(), *monitor, SessionOf(main.get()));
    form->NetworkOpen = [this] { return main->NetworkOpen(); };
    main->SetWindow(TWindowRole::Alarms, form.get());
    main->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(main.get()));
    ASSERT_NE(View(), nullptr);
  }
  void TearDown() override {
    form.reset();
    main.reset();
    monitor.reset();
    TVexaTest::TearDown();
  }

  // A write asked through the broker, journaled as the broker's hook journals it.
  void AskedThroughTheBroker(TRegisterNode* reg, const char* asked, const char* who, TWriteOutcome outcome) {
    TAlarmEvent write;
    write.Time = Now();
    write.Kind = TAlarmEventKind::RemoteWrite;
    write.Name = reg->Name();
    write.Caption = reg->Caption();
    write.Asked = QString::fromLatin1(asked);
    write.Who = QString::fromLatin1(who);
    write.Outcome = OutcomeWord(outcome);
    ASSERT_TRUE(monitor->Note(write));
  }

  // A completed read, handed over as the poller hands it.
  void Read(TRegisterNode* reg, const char* value) {
    reg->SetLastIOResult(iorOK);
    reg->SetLastStringData(QString::fromLatin1(value));
    ASSERT_FALSE(Current().RegisterRead.Empty());
    Current().RegisterRead.Notify(*reg);
    Clock->AdvanceSeconds(1);
  }
  TLabelView* View() const {
    for (TLabelView* v : main->findChildren<TLabelView*>())
      if (v->Label() == LabelOf(regs[0])) return v;
    return nullptr;
  }
  // The colours the label shows within a second and a bit: both phases of a flash when it flashes.
  QSet<QRgb> ColoursSeen() {
    QSet<QRgb> seen;
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < 1300) {
      QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
      seen << View()->grab().toImage().pixel(3, 3);
    }
    return seen;
  }
  QLabel* AlarmPanel() const { return Child<QLabel>(*main, "alarmPanel"); }
  QTreeWidget* List(const char* name) const { return Child<QTreeWidget>(*form, name); }
  QPushButton* Button(const char* name) const { return Child<QPushButton>(*form, name); }
  void ClickRow(QTreeWidget* list, int row) {
    const QRect r = list->visualItemRect(list->topLevelItem(row));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, r.center());
  }

  std::vector<TRegisterNode*> regs;
  std::unique_ptr<TMainForm> main;
  std::unique_ptr<TAlarmMonitor> monitor;
  std::unique_ptr<TAlarmsForm> form;
};

TEST_F(AlarmsWindowTest, ALabelFlashesPastItsLimitAndStaysSteadyOnceAcknowledgedInTheWindow) {
  const QRgb red = PriorityColour(1);
  static_cast<TRootNode*>(regs[0]->Owner())->SetCaption(QStringLiteral("Контур 1"));
  monitor->Rebuild();
  Read(regs[0], "40");
  EXPECT_EQ(View()->AlarmState(), TAlarmState::Normal);
  EXPECT_FALSE(AlarmPanel()->isVisible());
  EXPECT_FALSE(ColoursSeen().contains(red));

  // Another window in front: a new alarm of the first priority brings the main window forward.
  ASSERT_TRUE(Activate(form.get()));
  Read(regs[0], "75");
  EXPECT_TRUE(RunEventsUntil([this] { return QApplication::activeWindow() == main.get(); }, 2000));
  EXPECT_EQ(View()->AlarmState(), TAlarmState::ActiveUnacked);
  const QSet<QRgb> flashing = ColoursSeen();
  EXPECT_TRUE(flashing.contains(red));
  EXPECT_GE(flashing.size(), 2) << "it flashes";
  EXPECT_TRUE(AlarmPanel()->isVisible());
  EXPECT_EQ(AlarmPanel()->text(), QStringLiteral("Тревоги: 1 / 1"));

  // The operator opens the window, picks the row and acknowledges it.
  ASSERT_TRUE(Activate(form.get()));
  ASSERT_EQ(List("activeList")->topLevelItemCount(), 1);
  EXPECT_EQ(List("activeList")->topLevelItem(0)->text(1), QStringLiteral("Контур 1 / Температура 1"));
  EXPECT_EQ(List("activeList")->topLevelItem(0)->toolTip(1),
            QStringLiteral("Контур 1 / Температура 1 (D001C000R001)"));
  EXPECT_EQ(List("activeList")->topLevelItem(0)->text(2), QStringLiteral("Выше верхней"));
  EXPECT_EQ(List("activeList")->topLevelItem(0)->text(3), QStringLiteral("75"));
  ClickRow(List("activeList"), 0);
  QTest::mouseClick(Button("ackButton"), Qt::LeftButton);
  EXPECT_EQ(View()->AlarmState(), TAlarmState::ActiveAcked);
  EXPECT_EQ(ColoursSeen(), QSet<QRgb>{red}) << "steady";
  EXPECT_EQ(AlarmPanel()->text(), QStringLiteral("Тревоги: 1 / 0"));
  EXPECT_EQ(List("activeList")->topLevelItem(0)->text(4), QStringLiteral("Квитирована"));
  form->ShowJournal();
  EXPECT_EQ(List("journalList")->topLevelItem(1)->text(6), QStringLiteral("программа"))
      << "the stored word in Russian";

  // Inside the deadband it stays; below it, the alarm goes and the label is itself again.
  Read(regs[0], "49");
  EXPECT_EQ(View()->AlarmState(), TAlarmState::ActiveAcked);
  Read(regs[0], "47");
  EXPECT_EQ(View()->AlarmState(), TAlarmState::Normal);
  EXPECT_FALSE(AlarmPanel()->isVisible());
  EXPECT_EQ(List("activeList")->topLevelItemCount(), 0);
}

// While another program holds the journal, the status line says how many events wait for it, as
// long as they wait; then they are in the journal.
TEST_F(AlarmsWindowTest, TheStatusLineSaysEventsWaitForTheJournalUntilTheyAreWritten) {
  if (!HaveSqliteShell()) GTEST_SKIP() << "sqlite3 is not installed (scripts/deps installs it)";
  monitor->JournalRetryMs = 50;
  ASSERT_TRUE(monitor->Open().Texts().isEmpty());
  // As the program joins them.
  monitor->JournalNews = [this](const QString& text) { main->ShowJournalNews(text); };
  QLabel* panel = Child<QLabel>(*main, "journalPanel");
  auto lock = std::make_unique<TForeignLock>(AlarmJournalPath(Dir->path()));
  Read(regs[0], "75");
  Read(regs[1], "80");
  EXPECT_FALSE(monitor->FlushJournal(2000));
  monitor->Tick();
  EXPECT_TRUE(panel->isVisible());
  EXPECT_EQ(panel->text(), QStringLiteral("Журнал тревог недоступен: 2 событий ждут записи"));
  EXPECT_TRUE(panel->toolTip().contains(QStringLiteral("занят другой программой")))
      << panel->toolTip().toStdString();
  lock->Release();
  EXPECT_TRUE(RunEventsUntil(
      [&] {
        monitor->Tick();
        return !panel->isVisible();
      },
      8000));
  QStringList raised;
  for (const TAlarmEvent& e : monitor->Journal().Query()) raised << e.Name + ' ' + EventWord(e.Kind);
  EXPECT_EQ(raised, (QStringList{regs[0]->Name() + " raised", regs[1]->Name() + " raised"}));
}

TEST_F(AlarmsWindowTest, AReturnedAlarmFlashesItsFrameUntilAcknowledgedByTheKeyboard) {
  Read(regs[0], "75");
  Read(regs[0], "10");
  EXPECT_EQ(View()->AlarmState(), TAlarmState::ReturnedUnacked);
  EXPECT_EQ(AlarmPanel()->text(), QStringLiteral("Тревоги: 0 / 1"));
  ASSERT_TRUE(Activate(form.get()));
  QTreeWidget* list = List("activeList");
  list->setFocus();
  // "Квитировать все" by the keyboard: Tab from the list to the buttons.
  QTest::keyClick(list, Qt::Key_Tab);
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
  ASSERT_EQ(QApplication::focusWidget(), Button("ackAllButton"));
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
  EXPECT_EQ(View()->AlarmState(), TAlarmState::Normal);
  EXPECT_FALSE(AlarmPanel()->isVisible());
}

TEST_F(AlarmsWindowTest, TheJournalIsFilteredByRegisterAndExportedThroughTheRealBox) {
  Read(regs[0], "75");
  Read(regs[1], "80");
  Read(regs[1], "20");
  ASSERT_TRUE(Activate(form.get()));
  Child<QTabWidget>(*form, "alarmTabs")->setCurrentIndex(1);
  auto* filter = Child<QLineEdit>(*form, "registerFilter");
  filter->setFocus();
  QTest::keyClick(filter, Qt::Key_Return);
  EXPECT_EQ(List("journalList")->topLevelItemCount(), 3);
  QTest::keyClicks(filter, regs[1]->Name());
  QTest::keyClick(filter, Qt::Key_Return);
  ASSERT_EQ(List("journalList")->topLevelItemCount(), 2);
  EXPECT_EQ(List("journalList")->topLevelItem(0)->text(3), QStringLiteral("Возникла"));
  EXPECT_EQ(List("journalList")->topLevelItem(1)->text(3), QStringLiteral("Ушла"));

  const QString path = Dir->filePath(QStringLiteral("journal.txt"));
  form->AskExportPath = [&path](const QString&) { return path; };
  TRealMessageBoxes boxes;
  QTest::mouseClick(Button("exportButton"), Qt::LeftButton);
  EXPECT_EQ(boxes.Answered, 1);
  EXPECT_EQ(Messages->Texts(), QStringList{QStringLiteral("Журнал тревог записан в\r\n%1").arg(path)});
  QFile file(path);
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  const QString text = FromCp1251(file.readAll());
  EXPECT_EQ(text.count(QStringLiteral("\r\n")), 3);
  EXPECT_EQ(text.count(regs[1]->Name()), 2);
  EXPECT_EQ(text.count(regs[0]->Name()), 0);
}

// A write asked through the broker: a row of the journal in the operator's words with the writer;
// the alarm's count in the status line stays.
TEST_F(AlarmsWindowTest, AWriteFromTheBrokerIsAJournalRowInTheOperatorsWords) {
  Read(regs[0], "75");
  AskedThroughTheBroker(regs[0], "35", "dispatcher", TWriteOutcome::Written);
  AskedThroughTheBroker(regs[0], "9999", "mqtt", TWriteOutcome::Invalid);
  EXPECT_EQ(AlarmPanel()->text(), QStringLiteral("Тревоги: 1 / 1"));

  ASSERT_TRUE(Activate(form.get()));
  Child<QTabWidget>(*form, "alarmTabs")->setCurrentIndex(1);
  auto* filter = Child<QLineEdit>(*form, "registerFilter");
  filter->setFocus();
  QTest::keyClick(filter, Qt::Key_Return);
  QTreeWidget* journal = List("journalList");
  ASSERT_EQ(journal->topLevelItemCount(), 3);  // raised, two writes
  const auto row = [journal](int i) {
    QStringList cells;
    for (int c = 1; c < journal->columnCount(); ++c) cells << journal->topLevelItem(i)->text(c);
    return cells;
  };
  const QString name = QStringLiteral("Температура 1 (D001C000R001)");
  EXPECT_EQ(row(1), (QStringList{name, "", "Удалённая запись выполнена", "35", "", "dispatcher"}));
  EXPECT_EQ(row(2),
            (QStringList{name, "", "Удалённая запись отклонена: недопустимое значение", "9999", "", "mqtt"}));
  // The long reason leaves the register's column narrow: hovering its cell tells the whole name.
  const QRect cell = journal->visualRect(journal->model()->index(2, 1));
  QHelpEvent hover(QEvent::ToolTip, cell.center(), journal->viewport()->mapToGlobal(cell.center()));
  QApplication::sendEvent(journal->viewport(), &hover);
  EXPECT_TRUE(QToolTip::isVisible());
  EXPECT_EQ(QToolTip::text(), name);
  QToolTip::hideText();
}

// The journal's "по" follows the clock: over hours of events each one joins the shown list by
// itself, until the operator sets "по" to a moment past; a journal without events yet is no
// unavailable one.
TEST_F(AlarmsWindowTest, TheJournalFollowsTheClockUntilTheOperatorSetsItsEnd) {
  ASSERT_TRUE(Activate(form.get()));
  Child<QTabWidget>(*form, "alarmTabs")->setCurrentIndex(1);
  auto* status = Child<QLabel>(*form, "journalStatus");
  QTreeWidget* journal = List("journalList");
  EXPECT_EQ(status->text(), QStringLiteral("Событий: 0"));
  // Hours later, the value read: each read one event more.
  const std::pair<int, const char*> steps[] = {{0, "75"}, {1, "20"}, {2, "80"}, {3, "10"}};
  int rows = 0;
  for (const auto& [hoursLater, value] : steps) {
    Clock->AdvanceSeconds(hoursLater * 3600.0);
    Read(regs[0], value);
    ++rows;
    EXPECT_TRUE(RunEventsUntil([&] { return journal->topLevelItemCount() == rows; }, 3000))
        << hoursLater << " h";
  }

  // The operator moves "по" an hour back: the events after it stay out, new ones too.
  auto* to = Child<QDateTimeEdit>(*form, "toEdit");
  to->setFocus();
  to->setCurrentSection(QDateTimeEdit::HourSection);
  QTest::keyClick(to, Qt::Key_Down);
  QTest::mouseClick(Button("showButton"), Qt::LeftButton);
  EXPECT_EQ(journal->topLevelItemCount(), 3);
  Read(regs[0], "90");
  ProcessEventsFor(2 * 1000 / TAlarmsForm::kRefreshesPerSecond);
  EXPECT_EQ(journal->topLevelItemCount(), 3);
}

// A shelved alarm leaves the active list for "Отложенные", which counts its time down; "Вернуть"
// takes it back early, signed in the journal, and its condition, still there, raises it again.
TEST_F(AlarmsWindowTest, AShelvedAlarmIsListedWithItsTimeLeftAndTakenBackEarly) {
  main->SetNetworkOpen(true);  // shelving needs the password
  Read(regs[0], "75");
  ASSERT_TRUE(Activate(form.get()));
  ClickRow(List("activeList"), 0);
  ASSERT_EQ(Child<QSpinBox>(*form, "shelveMinutes")->value(), 30);
  QTest::mouseClick(Button("shelveButton"), Qt::LeftButton);
  EXPECT_EQ(List("activeList")->topLevelItemCount(), 0);
  // On the diagram the label is marked as set aside, not shown as normal.
  EXPECT_TRUE(View()->Shelved());
  EXPECT_EQ(View()->toolTip(), QStringLiteral("Тревога отложена"));
  auto* tabs = Child<QTabWidget>(*form, "alarmTabs");
  EXPECT_EQ(tabs->tabText(2), QStringLiteral("Отложенные (1)"));
  tabs->setCurrentIndex(2);
  QTreeWidget* shelved = List("shelvedList");
  ASSERT_EQ(shelved->topLevelItemCount(), 1);
  EXPECT_EQ(shelved->topLevelItem(0)->text(2), QStringLiteral("Выше верхней"));
  EXPECT_EQ(shelved->topLevelItem(0)->text(3), QStringLiteral("30:00"));
  Clock->AdvanceSeconds(10 * 60 + 15);
  EXPECT_TRUE(
      RunEventsUntil([&] { return shelved->topLevelItem(0)->text(3) == QStringLiteral("19:45"); }, 3000))
      << shelved->topLevelItem(0)->text(3).toStdString();

  ClickRow(shelved, 0);
  QTest::mouseClick(Button("unshelveButton"), Qt::LeftButton);
  EXPECT_EQ(shelved->topLevelItemCount(), 0);
  ASSERT_EQ(List("activeList")->topLevelItemCount(), 1);
  EXPECT_EQ(List("activeList")->topLevelItem(0)->text(4), QStringLiteral("Не квитирована"));
  EXPECT_FALSE(View()->Shelved());
  EXPECT_EQ(View()->AlarmState(), TAlarmState::ActiveUnacked);
  QStringList events;
  for (const TAlarmEvent& e : monitor->Journal().Query()) events << EventWord(e.Kind) + ' ' + e.Who;
  EXPECT_EQ(events, (QStringList{"raised ", "shelved program", "unshelved program", "raised "}));
}

// "Печать..." opens the real print preview of the journal's table; Esc closes it.
TEST_F(AlarmsWindowTest, TheJournalIsPrintedThroughThePrintPreview) {
  Read(regs[0], "75");
  ASSERT_TRUE(Activate(form.get()));
  Child<QTabWidget>(*form, "alarmTabs")->setCurrentIndex(1);
  form->ShowJournal();
  ASSERT_TRUE(Button("printButton")->isEnabled());
  QString title;
  QTimer::singleShot(300, [&title] {
    if (QWidget* preview = QApplication::activeModalWidget()) {
      title = preview->windowTitle();
      QTest::keyClick(preview, Qt::Key_Escape);
    }
  });
  QTest::mouseClick(Button("printButton"), Qt::LeftButton);
  EXPECT_EQ(title, QStringLiteral("Предварительный просмотр"));
  EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

TEST_F(AlarmsWindowTest, TheLimitsDialogOpensOnlyWhileTheNetworkIsOpen) {
  Read(regs[0], "75");
  ASSERT_TRUE(Activate(form.get()));
  ClickRow(List("activeList"), 0);
  main->SetNetworkOpen(false);
  EXPECT_FALSE(Button("limitsButton")->isEnabled());
  EXPECT_FALSE(Button("shelveButton")->isEnabled());
  EXPECT_TRUE(Button("ackButton")->isEnabled()) << "acknowledging needs no password";
  auto* menu = Child<QMenu>(*main, "labelMenu");
  Q_EMIT menu->aboutToShow();
  EXPECT_FALSE(Child<QAction>(*main, "alarmLimitsAction")->isEnabled());

  main->SetNetworkOpen(true);  // the password was given
  Q_EMIT menu->aboutToShow();
  EXPECT_TRUE(Child<QAction>(*main, "alarmLimitsAction")->isEnabled());
  ASSERT_TRUE(Button("limitsButton")->isEnabled());
  // The operator types a new upper limit into the real dialog and confirms it with Return.
  bool typed = false;
  QTimer::singleShot(0, [&] {
    auto* dialog = qobject_cast<TAlarmLimitsDlg*>(QApplication::activeModalWidget());
    if (dialog == nullptr) return;
    auto* hi = dialog->findChild<QLineEdit*>(QStringLiteral("hiEdit"));
    hi->setFocus();
    hi->selectAll();
    QTest::keyClicks(hi, QStringLiteral("90"));
    QTest::keyClick(hi, Qt::Key_Return);
    typed = true;
  });
  QTest::mouseClick(Button("limitsButton"), Qt::LeftButton);
  EXPECT_TRUE(typed);
  const auto* node = dynamic_cast<TAlarmNode*>(Current().Alarms()->Component(0));
  EXPECT_DOUBLE_EQ(node->HiLimit(), 90);
  EXPECT_TRUE(QFileInfo::exists(ConfigFilePath(Current().Dir(), QStringLiteral("ALARMS"))));
  // Read again with the new limit: 75 is inside it now.
  Read(regs[0], "75");
  EXPECT_EQ(monitor->ActiveCount(), 0);
}

// A register's limits dialog also sets its regulator's communication alarm: once set, the
// regulator falling silent (every polled register failing) raises "Нет связи" in the window.
TEST_F(AlarmsWindowTest, TheRegulatorsCommunicationAlarmIsSetInTheLimitsDialogAndFires) {
  main->SetNetworkOpen(true);
  Read(regs[0], "75");
  ASSERT_TRUE(Activate(form.get()));
  ClickRow(List("activeList"), 0);
  bool typed = false;
  QTimer::singleShot(0, [&] {
    auto* dialog = qobject_cast<TAlarmLimitsDlg*>(QApplication::activeModalWidget());
    if (dialog == nullptr) return;
    auto* enabled = dialog->findChild<QCheckBox*>(QStringLiteral("commEnabledBox"));
    auto* delay = dialog->findChild<QSpinBox*>(QStringLiteral("commDelaySpin"));
    if (enabled == nullptr || delay == nullptr) return dialog->reject();
    QTest::mouseClick(enabled, Qt::LeftButton, {}, QPoint(5, enabled->height() / 2));
    delay->setFocus();
    delay->selectAll();
    QTest::keyClicks(delay, QStringLiteral("3"));
    QTest::keyClick(delay, Qt::Key_Return);
    typed = true;
  });
  QTest::mouseClick(Button("limitsButton"), Qt::LeftButton);
  ASSERT_TRUE(typed);
  const QString regulator = QStringLiteral("D001");
  const TAlarmNode* node = FindAlarmNode(Current().Alarms().get(), regulator);
  ASSERT_NE(node, nullptr);
  EXPECT_TRUE(node->Enabled());
  EXPECT_EQ(node->DelaySeconds(), 3);

  struct Step {
    int failing;  // of the regulator's two polled registers
    bool silent;  // "Нет связи" listed after the reads
  };
  const Step steps[] = {{1, false}, {2, false}, {2, false}, {2, true}, {0, true}};
  for (const Step& step : steps) {
    for (int r = 0; r < 2; ++r) {
      regs[r]->SetLastIOResult(r < step.failing ? iorFAIL : iorOK);
      Current().RegisterRead.Notify(*regs[r]);
    }
    Clock->AdvanceSeconds(1.5);
    ProcessEventsFor(2 * 1000 / TAlarmsForm::kRefreshesPerSecond);
    bool listed = false;
    for (int i = 0; i < List("activeList")->topLevelItemCount(); ++i)
      listed = listed || List("activeList")->topLevelItem(i)->text(2) == QStringLiteral("Нет связи");
    EXPECT_EQ(listed, step.silent) << step.failing << " failing";
  }
}

// The program as started on a plant PC, its broker set up with writes allowed: a write asked
// through a real broker reaches the alarm window's journal with the writer's name.
class ProgramBrokerWritesTest : public TVexaTest {
 protected:
  void TearDown() override {
    if (program) program->Shutdown();
    UseNetwork(nullptr);
    program.reset();
    TVexaTest::TearDown();
  }
  std::unique_ptr<TProgram> program;
};

TEST_F(ProgramBrokerWritesTest, AWriteAskedThroughTheBrokerIsInTheAlarmWindowsJournal) {
  TMosquitto broker({QStringLiteral("line"), QStringLiteral("secret")});
  const TBrokerSettings settings = broker.Writing(QStringLiteral("vexa/plant"));
  ASSERT_TRUE(SaveBrokerSettings(Dir->path(), settings));
  TSubscriber sub(broker.Port, QStringLiteral("vexa/plant/#"), settings.User, settings.Password);
  program = std::make_unique<TProgram>(Dir->path());
  program->InitCore(std::make_unique<TFakeComm>(*Clock));
  UseNetwork(program->Network());
  ASSERT_TRUE(program->Start());
  ASSERT_TRUE(
      RunEventsUntil([&] { return !sub.On(QStringLiteral("vexa/plant/service/status")).empty(); }, 5000));

  // No such register here: refused, and journaled all the same.
  sub.Publish(QStringLiteral("vexa/plant/D005C000R004/set"), R"({"value": 30, "user": "dispatcher"})");
  ASSERT_TRUE(
      RunEventsUntil([&] { return !sub.On(QStringLiteral("vexa/plant/service/alarms")).empty(); }, 5000));

  auto* alarms = qobject_cast<TAlarmsForm*>(program->MainForm()->Window(TWindowRole::Alarms));
  ASSERT_NE(alarms, nullptr);
  ASSERT_TRUE(Activate(alarms));
  Child<QTabWidget>(*alarms, "alarmTabs")->setCurrentIndex(1);
  auto* filter = Child<QLineEdit>(*alarms, "registerFilter");
  filter->setFocus();
  QTest::keyClick(filter, Qt::Key_Return);
  auto* journal = Child<QTreeWidget>(*alarms, "journalList");
  ASSERT_EQ(journal->topLevelItemCount(), 1);
  const QTreeWidgetItem* row = journal->topLevelItem(0);
  EXPECT_EQ(row->text(1), QStringLiteral("D005C000R004"));
  EXPECT_EQ(row->text(3), QStringLiteral("Удалённая запись отклонена: нет такого регистра"));
  EXPECT_EQ(row->text(4), QStringLiteral("30"));
  EXPECT_EQ(row->text(6), QStringLiteral("dispatcher"));
}

using ProgramOnASimLineTest = ProgramBrokerWritesTest;

// The program on vexa-sim's line, both regulators' communication alarms on: when regulator 1 stops
// answering (the simulator back without it), its alarm comes up in the alarm window; regulator 0,
// answering again, has none.
TEST_F(ProgramOnASimLineTest, ARegulatorThatFallsSilentRaisesItsCommunicationAlarmInTheWindow) {
  TSystemClockScope realTime;  // the real line needs real time
  for (int d = 0; d < 2; ++d) {
    auto* regulator = new TRootNode(Net().get());
    regulator->SetName(QStringLiteral("D%1").arg(d, 3, 10, QLatin1Char('0')));
    auto* channel = new TRootNode(regulator);
    channel->SetName(regulator->Name() + QStringLiteral("C000"));
    for (int r = 1; r <= 2; ++r) {
      auto* reg = new TRegisterNode(channel);
      reg->SetName(TCustomRegister::RegisterName(d, 0, r));
      reg->SetLoggingInterval(1);
      reg->SetEnabled(true);
    }
  }
  Settings()->SetDemo(false);
  Settings()->SetPortIndex(0);
  ASSERT_TRUE(QDir(Dir->path()).mkpath(QStringLiteral("Config")));
  ASSERT_TRUE(SaveTreeFile(Current(), *Net()));
  ASSERT_TRUE(SaveTreeFile(Current(), *Settings()));
  for (const char* regulator : {"D000", "D001"})
    ASSERT_TRUE(
        ApplyCommAlarm(Current(), QString::fromLatin1(regulator), {true, 2, 1}).Faults.Texts().isEmpty());
  ASSERT_TRUE(QDir(Dir->path()).mkpath(QStringLiteral("Ports")));
  const QString link = Dir->filePath(QStringLiteral("Ports/COM1"));  // where COM1 of this folder is
  auto sim = std::make_unique<TSimProcess>(link, QStringList{"--seed", "3", "--addresses", "0,1"});
  ASSERT_TRUE(sim->Start());

  program = std::make_unique<TProgram>(Dir->path());
  program->InitCore(std::make_unique<TComm>(Dir->path()));
  UseNetwork(program->Network());
  ASSERT_TRUE(program->Start());
  const auto answered = [this](const char* name) {
    const auto* reg = dynamic_cast<const TRegisterNode*>(FindNode(Net().get(), QString::fromLatin1(name)));
    return reg != nullptr && reg->LastIOResult() == iorOK;
  };
  ASSERT_TRUE(RunEventsUntil([&] { return answered("D000C000R001") && answered("D001C000R001"); }, 10000));

  sim->Stop();
  sim = std::make_unique<TSimProcess>(link, QStringList{"--seed", "3", "--addresses", "0"});
  ASSERT_TRUE(sim->Start());
  auto* alarms = qobject_cast<TAlarmsForm*>(program->MainForm()->Window(TWindowRole::Alarms));
  ASSERT_NE(alarms, nullptr);
  ASSERT_TRUE(Activate(alarms));
  QTreeWidget* active = Child<QTreeWidget>(*alarms, "activeList");
  const auto silent = [active] {
    QStringList names;
    for (int i = 0; i < active->topLevelItemCount(); ++i)
      if (active->topLevelItem(i)->text(2) == QStringLiteral("Нет связи"))
        names << active->topLevelItem(i)->toolTip(1);
    return names;
  };
  // Regulator 0 answers again and regulator 1 stays silent past the delay.
  ASSERT_TRUE(RunEventsUntil([&] { return silent().size() == 1 && silent()[0].contains("D001"); }, 15000))
      << silent().join(", ").toStdString();
}

// Pictures for the documentation (scripts/screenshots): the alarm window's two pages, the main
// window with a label in alarm, the limits dialog.
TEST_F(AlarmsWindowTest, Screenshots) {
  const QString folder = qEnvironmentVariable("VEXA_SCREENSHOTS_DIR");
  if (folder.isEmpty()) GTEST_SKIP() << "VEXA_SCREENSHOTS_DIR is not set";
  const auto save = [&folder](QWidget* w, const char* name) {
    ProcessEventsFor(100);
    EXPECT_TRUE(w->grab().save(QDir(folder).filePath(QString::fromLatin1(name)), "PNG")) << name;
  };
  auto* channel = static_cast<TRootNode*>(regs[0]->Owner());
  channel->SetCaption(QStringLiteral("Контур 1"));
  static_cast<TRootNode*>(channel->Owner())->SetCaption(QStringLiteral("Регулятор 001"));
  // The second register's label shows its alarm shelved.
  PlaceLabel(*regs[1], QStringLiteral("ts0"), 20, 50);
  monitor->Rebuild();
  Read(regs[1], "80");
  Read(regs[1], "20");
  Read(regs[0], "75");
  AskedThroughTheBroker(regs[1], "35", "dispatcher", TWriteOutcome::Written);
  monitor->Acknowledge(regs[1]->Name());
  Read(regs[1], "85");
  monitor->Shelve(regs[1]->Name(), TAlarmCondition::Hi, 30 * 60);
  LabelOf(regs[0])->SetValue(QStringLiteral("75"));  // as the poller's store shows it
  LabelOf(regs[1])->SetValue(QStringLiteral("85"));
  View()->SetFlashPhase(true);
  save(main.get(), "alarm-label.png");
  const QString brokerOut = QStringLiteral("MQTT: нет связи с localhost:1883, повтор");
  main->ShowLineNotice(QStringLiteral("Порт COM1 потерян: устройство отключено"), true);
  main->ShowBrokerNotice(brokerOut, brokerOut);
  // As wide as a plant's diagram makes it; the narrowest window cuts the notices, whole on hover.
  main->setFixedWidth(760);
  save(main.get(), "status-line.png");
  ASSERT_TRUE(Activate(form.get()));
  save(form.get(), "alarms-window.png");
  Child<QTabWidget>(*form, "alarmTabs")->setCurrentIndex(1);
  form->ShowJournal();
  save(form.get(), "alarms-journal.png");
  Child<QTabWidget>(*form, "alarmTabs")->setCurrentIndex(2);
  save(form.get(), "alarms-shelved.png");
  TAlarmLimitsDlg dialog(Current(), monitor.get(), regs[0]->Name(), form.get());
  dialog.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
  save(&dialog, "alarm-limits.png");
}

}  // namespace
}  // namespace vexa::test
