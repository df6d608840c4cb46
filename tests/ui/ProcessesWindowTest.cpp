// The process templates and processes window as the operator uses it: templates built by dragging
// registers from the network structure window, processes made by dragging a template onto the
// list, started, stepped by the 10-second timer against the simulator, stopped, and resumed after
// the processes were saved and loaded again.

#include <gtest/gtest.h>

#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QLineEdit>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QTableWidget>
#include <QTest>
#include <QTimer>
#include <QToolBar>
#include <QTreeWidget>
#include <memory>

#include "core/Network.h"
#include "core/RegisterNode.h"
#include "processes/gui/CycloEditUnit.h"
#include "processes/gui/TasksUnit.h"
#include "processes/model/CommandNode.h"
#include "processes/model/ProcessTick.h"
#include "storage/TreeFiles.h"
#include "support/Child.h"
#include "support/RealMessageBox.h"
#include "support/TestSupport.h"
#include "ui/MainUnit.h"
#include "ui/ManualTimer.h"
#include "ui/OperatorInput.h"
#include "ui/TemplatesWindowTest.h"
#include "ui/config/NetUnit.h"
#include "ui/config/RootPropertiesUnit.h"
#include "ui/parts/ImageList.h"
#include "ui/parts/NodeViews.h"

namespace vexa::test {
namespace {

const QString kR4 = QStringLiteral("D000C000R004");
const QString kR5 = QStringLiteral("D000C001R004");

class ProcessesWindowTest : public TTemplatesWindowTest<TTasksForm> {
 protected:
  void SetUp() override {
    TVexaTest::SetUp();
    ASSERT_TRUE(QDir(Dir->path()).mkpath(QStringLiteral("Config")));
    Settings()->SetDemo(true);
    auto* regulator = Node(Net().get(), "D000", "Печь");
    r4 = Register(Node(regulator, "D000C000", "Зона 1"), kR4, "Уставка");
    r5 = Register(Node(regulator, "D000C001", "Зона 2"), kR5, "Уставка");
    // Setpoints: processes write them.
    r4->SetUserCanWRITE(true);
    r5->SetUserCanWRITE(true);
    channel = dynamic_cast<TRootNode*>(r4->Owner());
    mainForm = std::make_unique<TMainForm>(Current());
    mainForm->SetNetworkOpen(true);
    MakeWindow();
    t0 = Clock->Now();
    Messages->Shown.clear();  // the main window's word about missing diagrams
  }

  // A new template made with "Новый шаблон".
  TRootNode* NewTemplate() { return NewTemplateIn(*TTemplates()); }

  // The template picked in the tree and dragged onto the list; the process made, or null.
  TRootNode* DropTemplate(TRootNode* templ) { return DropTemplateInto(*Tasks(), templ); }

  static TCommandNode* Command(TRootNode* owner, int i) {
    return dynamic_cast<TCommandNode*>(owner->Node(i));
  }
  // Ten seconds on the window's timer, the clock exactly ten seconds on from the last tick (the
  // writes' pauses are not counted twice).
  void Tick() {
    ++ticks;
    Clock->SetNow(t0);
    Clock->Advance(ticks * int64_t{kProcessTickMs});
    timer->Advance(kProcessTickMs);
  }

  // A template of both registers: R4 ramps 20 -> 80 over 60 s, R5 holds 5 for 30 s.
  TRootNode* FurnaceTemplate() {
    TRootNode* templ = NewTemplate();
    templ->SetCaption(QStringLiteral("Отжиг"));
    EXPECT_TRUE(DropRegister(kR4, templ));
    EXPECT_TRUE(DropRegister(kR5, templ));
    Command(templ, 0)->SetDataList(QStringList{"20", "80"});
    Command(templ, 0)->SetPoints(QStringList{"0", "60"});
    Command(templ, 1)->SetDataList(QStringList{"5", "5"});
    Command(templ, 1)->SetPoints(QStringList{"0", "30"});
    return templ;
  }

  double t0 = 0;
  int ticks = 0;
  TRegisterNode* r4 = nullptr;
  TRegisterNode* r5 = nullptr;
  TRootNode* channel = nullptr;
};

TEST_F(ProcessesWindowTest, RegistersDroppedOnATemplateBecomeEmptyCommandNodesOnceEach) {
  Show();
  TRootNode* first = NewTemplate();
  EXPECT_EQ(first->Caption(), "Шаблон процесса");
  EXPECT_EQ(first->ImageIndex(), iiCYCLO);
  EXPECT_EQ(window->SelectedObject(), first);
  r4->SetDataList(QStringList{"history"});

  ASSERT_TRUE(DropRegister(kR4, first));
  TCommandNode* node = Command(first, 0);
  ASSERT_NE(node, nullptr);
  EXPECT_EQ(node->Name(), kR4);
  EXPECT_EQ(node->Caption(), "Уставка.Зона 1.Печь");
  EXPECT_EQ(node->ImageIndex(), iiTABLE);
  EXPECT_EQ(node->RegisterType(), rtINT);
  EXPECT_EQ(node->Count(), 0);
  EXPECT_TRUE(node->DataList().ToStringList().isEmpty());
  EXPECT_EQ(window->SelectedObject(), node);

  // The same register again: refused with the template's caption; another template takes it.
  first->SetCaption(QStringLiteral("Отжиг"));
  EXPECT_TRUE(DropRegister(kR4, first));
  EXPECT_EQ(first->NodeCount(), 1);
  ASSERT_EQ(Messages->Shown.size(), 1u);
  EXPECT_EQ(Messages->Shown[0].Text, "Циклограмма для этого регистра\r\nуже имеется в 'Отжиг'!");
  EXPECT_EQ(Messages->Shown[0].Icon, TMsgIcon::Warning);
  TRootNode* second = NewTemplate();
  EXPECT_TRUE(DropRegister(kR4, second));
  EXPECT_TRUE(DropRegister(kR5, second));
  EXPECT_EQ(second->NodeCount(), 2);
  EXPECT_EQ(Messages->Shown.size(), 1u);
  // Building templates saves nothing; "Сохранить шаблоны" does.
  EXPECT_FALSE(QFile::exists(ConfigFilePath(Current().Dir(), "TTEMPLATES")));
  ClickTop("saveTemplatesAction");
  EXPECT_TRUE(QFile::exists(ConfigFilePath(Current().Dir(), "TTEMPLATES")));
}

TEST_F(ProcessesWindowTest, ARefusedDropIsToldByTheRealBoxAndTheTreeGoesOn) {
  Show();
  TRootNode* templ = NewTemplate();
  templ->SetCaption(QStringLiteral("Отжиг"));
  DuplicateDropWithTheRealBox(templ, kR4, kR5,
                              QStringLiteral("Циклограмма для этого регистра\r\nуже имеется в 'Отжиг'!"));
}

TEST_F(ProcessesWindowTest, DropsThatAreRefused) {
  Show();
  TRootNode* templ = NewTemplate();
  ASSERT_TRUE(DropRegister(kR4, templ));
  TRootNode* command = Command(templ, 0);
  QMimeData foreign;
  foreign.setText(kR5);
  const struct {
    const char* Case;
    std::unique_ptr<QMimeData> Mime;
    TRootNode* Target;
  } cases[] = {
      {"on the root", NetDrag(kR5), TTemplates().get()},
      {"on a command node", NetDrag(kR5), command},
      {"a channel", NetDrag("D000C001"), templ},
      {"a name not in the network", NetDrag("D009C000R001"), templ},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Case);
    QTreeWidgetItem* item = NodeItem(Tree(), c.Target);
    ASSERT_NE(item, nullptr);
    EXPECT_FALSE(DropOn(Tree(), Tree()->visualItemRect(item).center(), *c.Mime));
  }
  EXPECT_FALSE(DropOn(Tree(), Tree()->visualItemRect(NodeItem(Tree(), templ)).center(), foreign));
  // A register is not a template for the list.
  EXPECT_FALSE(DropOn(List(), List()->viewport()->rect().center(), *NetDrag(kR5)));
  mainForm->SetNetworkOpen(false);
  EXPECT_FALSE(DropRegister(kR5, templ));
  EXPECT_EQ(templ->NodeCount(), 1);
  EXPECT_EQ(Tasks()->NodeCount(), 0);
  EXPECT_TRUE(Messages->Shown.empty());
}

TEST_F(ProcessesWindowTest, DeletingTemplateNodesSelectsTheLastRemainingAndSaves) {
  Show();
  TRootNode* a = NewTemplate();
  TRootNode* b = NewTemplate();
  ASSERT_TRUE(DropRegister(kR4, b));
  ASSERT_TRUE(DropRegister(kR5, b));
  ClickItem(Tree(), Command(b, 0));
  ClickTop("deleteTemplateAction");
  ASSERT_EQ(b->NodeCount(), 1);
  EXPECT_EQ(b->Node(0)->Name(), kR5);
  EXPECT_EQ(window->SelectedObject(), b->Node(0));
  EXPECT_TRUE(QFile::exists(ConfigFilePath(Current().Dir(), "TTEMPLATES")));

  ClickItem(Tree(), b);
  ClickTop("deleteTemplateAction");
  EXPECT_EQ(TTemplates()->NodeCount(), 1);
  EXPECT_EQ(window->SelectedObject(), a);
  ClickTop("deleteTemplateAction");
  EXPECT_EQ(TTemplates()->NodeCount(), 0);
  EXPECT_EQ(window->SelectedObject(), TTemplates().get());
  ClickTop("deleteTemplateAction");  // the root stays
  EXPECT_EQ(Tree()->topLevelItemCount(), 1);
}

TEST_F(ProcessesWindowTest, AProcessRunsItsCyclogramsOnTheTimerAndStopsItselfAtTheEnd) {
  Show();
  TRootNode* templ = FurnaceTemplate();
  TRootNode* process = DropTemplate(templ);
  ASSERT_NE(process, nullptr);
  EXPECT_EQ(process->Caption(), "Отжиг");
  EXPECT_EQ(process->ImageIndex(), iiSTOP);
  EXPECT_TRUE(RowImageIs(process, iiSTOP));
  ASSERT_EQ(process->NodeCount(), 2);
  for (int i = 0; i < 2; ++i) {
    TCommandNode* node = Command(process, i);
    ASSERT_NE(node, nullptr);
    EXPECT_EQ(node->Name(), Command(templ, i)->Name());
    EXPECT_EQ(node->DataList().ToStringList(), Command(templ, i)->DataList().ToStringList());
    EXPECT_FALSE(node->Enabled());
    EXPECT_EQ(node->SlotNumber(), 0);
  }
  EXPECT_EQ(window->SelectedItem(), process);
  EXPECT_EQ(Percent(process), "0");
  EXPECT_TRUE(QFile::exists(ConfigFilePath(Current().Dir(), "TASKS")));

  // Not started: the timer leaves it alone.
  Tick();
  EXPECT_EQ(Command(process, 0)->LastStringData(), "");

  ClickBottom("startAction");
  EXPECT_TRUE(process->Enabled());
  EXPECT_EQ(process->ImageIndex(), iiPLAY);
  EXPECT_TRUE(RowImageIs(process, iiPLAY));
  // The progress of the slower cyclogram, and what each tick wrote; the network register shows
  // the previous tick's value.
  const struct {
    const char* Percent;
    const char* R4;
    const char* Network;
  } ticks[] = {
      {"0", "20", ""},    {"16", "30", "20"}, {"33", "40", "30"},  {"50", "50", "40"},
      {"66", "60", "50"}, {"83", "70", "60"}, {"100", "80", "70"},
  };
  r4->SetLastStringData("");
  for (const auto& t : ticks) {
    SCOPED_TRACE(t.Percent);
    Tick();
    EXPECT_EQ(Percent(process), t.Percent);
    EXPECT_EQ(Command(process, 0)->LastStringData(), t.R4);
    EXPECT_EQ(r4->LastStringData(), t.Network);
  }
  EXPECT_EQ(Command(process, 1)->LastStringData(), "5");
  EXPECT_FALSE(process->Enabled());
  EXPECT_EQ(process->ImageIndex(), iiSTOP);
  EXPECT_TRUE(RowImageIs(process, iiSTOP));

  // "Старт" on a finished process runs it again from point 0.
  ClickBottom("startAction");
  Tick();
  EXPECT_EQ(Command(process, 0)->LastStringData(), "20");
  EXPECT_EQ(Percent(process), "0");
  EXPECT_TRUE(process->Enabled());
  EXPECT_TRUE(Messages->Shown.empty());
}

// The list is rebuilt when a process is added and whenever the window is shown again: a process
// that has run to its end keeps its 100 there beside its stop picture; the others show 0.
TEST_F(ProcessesWindowTest, AFinishedProcessShowsItsHundredAfterTheListIsRebuilt) {
  Show();
  TRootNode* templ = FurnaceTemplate();
  TRootNode* finished = DropTemplate(templ);
  ASSERT_NE(finished, nullptr);
  ClickBottom("startAction");
  for (int i = 0; i < 7; ++i) Tick();
  ASSERT_FALSE(finished->Enabled());
  ASSERT_EQ(Percent(finished), "100");

  TRootNode* fresh = DropTemplate(templ);
  ASSERT_NE(fresh, nullptr);
  EXPECT_EQ(Percent(finished), "100");
  EXPECT_TRUE(RowImageIs(finished, iiSTOP));
  EXPECT_EQ(Percent(fresh), "0");

  ClickItem(List(), fresh);
  ClickBottom("startAction");
  Tick();
  Tick();
  ASSERT_EQ(Percent(fresh), "16");
  window->close();
  Show();
  EXPECT_EQ(Percent(finished), "100");
  EXPECT_EQ(Percent(fresh), "16") << "a running process shows its progress at once";
  ClickItem(List(), fresh);
  ClickBottom("stopAction");
  window->close();
  Show();
  EXPECT_EQ(Percent(fresh), "0");
}

TEST_F(ProcessesWindowTest, AStoppedProcessResumesInItsSlotAfterARestart) {
  Show();
  TRootNode* process = DropTemplate(FurnaceTemplate());
  ASSERT_NE(process, nullptr);
  ClickBottom("startAction");
  for (int i = 0; i < 3; ++i) Tick();
  EXPECT_EQ(Percent(process), "33");
  ClickBottom("stopAction");
  EXPECT_FALSE(process->Enabled());
  EXPECT_FALSE(Command(process, 0)->Enabled());
  EXPECT_EQ(process->ImageIndex(), iiSTOP);
  Tick();  // stopped: nothing is written, nothing shown
  EXPECT_EQ(Command(process, 0)->LastStringData(), "40");
  EXPECT_EQ(Percent(process), "33");

  // The program ends and starts again: the processes come back from their file.
  window->hide();
  window.reset();
  Current().RecreateRoot(QStringLiteral("TASKS"));
  LoadTreeFile(Current(), Tasks());
  ASSERT_EQ(Tasks()->NodeCount(), 1);
  MakeWindow();
  Show();
  process = Tasks()->Node(0);
  EXPECT_EQ(process->ImageIndex(), iiSTOP);
  EXPECT_EQ(Command(process, 0)->SlotNumber(), 1);
  ClickItem(List(), process);
  ClickBottom("startAction");
  // 40 s since the slot began (the time stopped counts): the ramp goes on at 60.
  Tick();
  EXPECT_EQ(Command(process, 0)->LastStringData(), "60");
  EXPECT_EQ(Percent(process), "66");
}

TEST_F(ProcessesWindowTest, StartAllDeleteAndProcessesWithoutWork) {
  Show();
  TRootNode* empty = NewTemplate();
  TRootNode* furnace = FurnaceTemplate();
  TRootNode* p1 = DropTemplate(empty);
  TRootNode* p2 = DropTemplate(furnace);
  TRootNode* p3 = DropTemplate(furnace);  // a template makes as many processes as wanted
  ASSERT_TRUE(p1 && p2 && p3);
  ClickBottom("startAllAction");
  for (TRootNode* p : {p1, p2, p3}) EXPECT_TRUE(p->Enabled());
  Tick();
  // Nothing to do: stopped at its first tick, with 100.
  EXPECT_FALSE(p1->Enabled());
  EXPECT_EQ(Percent(p1), "100");
  EXPECT_TRUE(RowImageIs(p1, iiSTOP));
  EXPECT_TRUE(p2->Enabled());

  ClickItem(List(), p2);
  ClickBottom("deleteItemAction");
  ASSERT_EQ(Tasks()->NodeCount(), 2);
  EXPECT_EQ(List()->topLevelItemCount(), 2);
  Current().RecreateRoot(QStringLiteral("TASKS"));
  LoadTreeFile(Current(), Tasks());
  EXPECT_EQ(Tasks()->NodeCount(), 2);  // saved
  window->Rebuild();
  // Without a selected row the commands do nothing.
  List()->setCurrentItem(nullptr);
  ClickBottom("deleteItemAction");
  ClickBottom("stopAction");
  EXPECT_EQ(Tasks()->NodeCount(), 2);
}

// A process whose cyclogram cannot run is stopped by the tick and told in the real box, once the tick
// has ended; while the operator reads, the ticks wait, and they go on afterwards.
TEST_F(ProcessesWindowTest, ABrokenProcessIsToldInTheRealBoxWhileTheTicksWait) {
  Show();
  TRootNode* templ = FurnaceTemplate();
  Command(templ, 0)->SetDataList(QStringList{"20", "тепло"});
  TRootNode* process = DropTemplate(templ);
  ASSERT_NE(process, nullptr);
  ClickBottom("startAction");
  ASSERT_TRUE(process->Enabled());

  TRealMessageBoxes boxes;
  bool waitingDuringTheBox = false;
  // Runs in the box's own event loop.
  QTimer::singleShot(0, window.get(), [&] { waitingDuringTheBox = !timer->Active(); });
  Tick();
  EXPECT_EQ(boxes.Answered, 1);
  ASSERT_EQ(Messages->Shown.size(), 1u);
  EXPECT_TRUE(Messages->Shown[0].Text.startsWith(QStringLiteral("Процесс 'Отжиг' остановлен:")))
      << Messages->Shown[0].Text.toStdString();
  EXPECT_TRUE(waitingDuringTheBox);
  EXPECT_TRUE(timer->Active());
  EXPECT_FALSE(process->Enabled());
  EXPECT_TRUE(RowImageIs(process, iiSTOP));
  // Stopped, it is not told again.
  Tick();
  EXPECT_EQ(Messages->Shown.size(), 1u);
}

TEST_F(ProcessesWindowTest, TheTickRunsWhetherShownOrNot) {
  // Never shown: a running process is still stepped and stopped when done.
  auto* process = new TRootNode(Tasks().get());
  auto* node = new TCommandNode(process);
  node->Assign(*r4);
  node->SetDataList(QStringList{"7"});
  node->SetPoints(QStringList{"0"});
  node->Reset();
  process->SetEnabled(true);
  node->Start();
  EXPECT_FALSE(window->isVisible());
  Tick();
  EXPECT_EQ(node->LastStringData(), "7");
  EXPECT_FALSE(process->Enabled());
  EXPECT_EQ(process->ImageIndex(), iiSTOP);
}

TEST_F(ProcessesWindowTest, WithTheNetworkClosedTemplatesAreReadOnlyAndProcessesStillRun) {
  Show();
  TRootNode* templ = FurnaceTemplate();
  TCommandNode* command = Command(templ, 0);
  mainForm->SetNetworkOpen(false);
  EXPECT_FALSE(TopToolBar()->isVisible());

  // The template's properties, read-only for this showing.
  TRootPropertiesForm* dialog = nullptr;
  QString title;
  bool nameReadOnly = false;
  bool commentsReadOnly = false;
  WhenModal<TRootPropertiesForm>([&](TRootPropertiesForm* d) {
    dialog = d;
    title = d->windowTitle();
    nameReadOnly = Child<QLineEdit>(*d, "nameEdit")->isReadOnly();
    commentsReadOnly = Child<QPlainTextEdit>(*d, "commentsEdit")->isReadOnly();
    d->reject();
  });
  DoubleClickItem(Tree(), templ);
  ASSERT_NE(dialog, nullptr);
  EXPECT_EQ(title, "Свойства узла (для чтения)");
  EXPECT_TRUE(nameReadOnly);
  EXPECT_TRUE(commentsReadOnly);
  EXPECT_EQ(dialog->windowTitle(), "Свойства узла");
  EXPECT_FALSE(Child<QLineEdit>(*dialog, "nameEdit")->isReadOnly());
  EXPECT_FALSE(Child<QPlainTextEdit>(*dialog, "commentsEdit")->isReadOnly());

  // Neither the root's properties nor the cyclogram editor open.
  {
    TNoModalWindow none;
    DoubleClickItem(Tree(), command);
    DoubleClickItem(Tree(), TTemplates().get());
    ProcessEventsFor(50);
  }

  // Processes: made, started, stepped and deleted all the same.
  TRootNode* process = DropTemplate(templ);
  ASSERT_NE(process, nullptr);
  ClickBottom("startAction");
  Tick();
  EXPECT_EQ(Command(process, 0)->LastStringData(), "20");
  ClickBottom("deleteItemAction");
  EXPECT_EQ(Tasks()->NodeCount(), 0);

  // Open again: the toolbar is back and a command node opens in the editor, titled with its caption.
  mainForm->SetNetworkOpen(true);
  EXPECT_TRUE(TopToolBar()->isVisible());
  QString editorTitle;
  int editorRows = -1;
  Messages->Answers.push_back(mbNo);
  WhenModal<TCycloEditForm>([&](TCycloEditForm* editor) {
    editorTitle = editor->windowTitle();
    editorRows = Child<QTableWidget>(*editor, "pointsGrid")->rowCount();
    editor->close();
  });
  DoubleClickItem(Tree(), command);
  EXPECT_EQ(editorTitle, command->Caption());
  EXPECT_EQ(editorRows, 2);
  EXPECT_EQ(Messages->Texts(), QStringList{"Сохранить изменения?"});
  EXPECT_EQ(mainForm->ToolWindowCount(), 1);  // only this window
}

}  // namespace
}  // namespace vexa::test
