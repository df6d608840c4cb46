// The report templates and reports window as the operator uses it: templates built by dragging
// registers from the network structure window, reports made by dragging a template onto the list,
// started, sampled by the one-second timer against the simulator and archived, stopped, sent to
// the archive by hand, previewed as a snapshot; and what stays closed while the network is.

#include <gtest/gtest.h>

#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileInfo>
#include <QMimeData>
#include <QTabWidget>
#include <QTest>
#include <QToolBar>
#include <QTreeWidget>
#include <memory>

#include "core/Network.h"
#include "core/RegisterNode.h"
#include "reports/gui/ReportsUnit.h"
#include "reports/model/ReportArchives.h"
#include "reports/model/ReportNode.h"
#include "reports/model/ReportTick.h"
#include "storage/TreeFiles.h"
#include "support/Child.h"
#include "support/TestSupport.h"
#include "ui/MainUnit.h"
#include "ui/ManualTimer.h"
#include "ui/OperatorInput.h"
#include "ui/TemplatesWindowTest.h"
#include "ui/config/NetUnit.h"
#include "ui/config/RegisterPropertiesUnit.h"
#include "ui/parts/ImageList.h"
#include "ui/parts/NodeViews.h"

namespace vexa::test {
namespace {

const QString kR4 = QStringLiteral("D000C000R004");
const QString kR5 = QStringLiteral("D000C001R004");
constexpr double kDay = 46363;  // 07.12.2026
// 10:00:00.500: the first window of a minute begins at 10:00.
const double kStart = kDay + (10 * 3600 * 1000 + 500) / 86400000.0;
const QString kArchive = QStringLiteral("Печь_07_12_2026_1000");

class ReportsWindowTest : public TTemplatesWindowTest<TReportsForm> {
 protected:
  void SetUp() override {
    TVexaTest::SetUp();
    ASSERT_TRUE(QDir(Dir->path()).mkpath(QStringLiteral("Config")));
    ASSERT_TRUE(QDir(Dir->path()).mkpath(QStringLiteral("Archives")));
    Settings()->SetDemo(true);
    auto* regulator = Node(Net().get(), "D000", "Печь");
    r4 = Register(Node(regulator, "D000C000", "Зона 1"), kR4, "Уставка");
    r5 = Register(Node(regulator, "D000C001", "Зона 2"), kR5, "Уставка");
    mainForm = std::make_unique<TMainForm>(Current());
    mainForm->SetNetworkOpen(true);
    MakeWindow();
    Clock->SetNow(kStart);
    Messages->Shown.clear();
  }

  TReportNode* NewTemplate() { return dynamic_cast<TReportNode*>(NewTemplateIn(*RTemplates())); }

  TReportNode* DropTemplate(TRootNode* templ) {
    return dynamic_cast<TReportNode*>(DropTemplateInto(*Reports(), templ));
  }

  // "Печь": both registers, a sample every 3 s over a window of a minute, 20 samples.
  TReportNode* FurnaceTemplate() {
    TReportNode* templ = NewTemplate();
    templ->SetCaption(QStringLiteral("Печь"));
    EXPECT_TRUE(DropRegister(kR4, templ));
    EXPECT_TRUE(DropRegister(kR5, templ));
    return templ;
  }

  static TRegisterNode* Reg(TRootNode* owner, int i = 0) {
    return dynamic_cast<TRegisterNode*>(owner->Node(i));
  }
  // One second on the window's timer, the clock exactly a second on from the last tick.
  void Tick() {
    ++ticks;
    Clock->SetNow(kStart);
    Clock->Advance(ticks * int64_t{kReportTickMs});
    timer->Advance(kReportTickMs);
  }
  void Ticks(int n) {
    for (int i = 0; i < n; ++i) Tick();
  }
  QString ArchiveFile(const QString& name) const { return Dir->filePath(QStringLiteral("Archives/") + name); }

  int ticks = 0;
  TRegisterNode* r4 = nullptr;
  TRegisterNode* r5 = nullptr;
};

TEST_F(ReportsWindowTest, TemplatesAreBuiltByDropsWithEachRegisterOnce) {
  Show();
  EXPECT_EQ(window->windowTitle(), "Шаблоны-Отчеты");
  TReportNode* templ = NewTemplate();
  ASSERT_NE(templ, nullptr) << "a template is a report node";
  EXPECT_EQ(templ->Caption(), "Шаблон отчета");
  EXPECT_EQ(templ->ImageIndex(), iiNEW);
  EXPECT_EQ(templ->MaxCount(), 20);
  r4->SetDataList(QStringList{"1", "2"});
  r4->SetPoints(QStringList{"a", "b"});

  ASSERT_TRUE(DropRegister(kR4, templ));
  TRegisterNode* node = Reg(templ);
  ASSERT_NE(node, nullptr);
  EXPECT_EQ(node->Name(), kR4);
  EXPECT_EQ(node->Caption(), "Уставка.Зона 1.Печь");
  EXPECT_EQ(node->ImageIndex(), iiREPORTN);
  EXPECT_EQ(node->RegisterType(), rtINT);
  EXPECT_EQ(node->Count(), 0);
  EXPECT_TRUE(node->DataList().ToStringList().isEmpty());
  EXPECT_EQ(window->SelectedObject(), node);

  templ->SetCaption(QStringLiteral("Печь"));
  EXPECT_TRUE(DropRegister(kR4, templ));
  EXPECT_EQ(templ->NodeCount(), 1);
  ASSERT_EQ(Messages->Shown.size(), 1u);
  EXPECT_EQ(Messages->Shown[0].Text, "Этот регистр уже имеется\r\nв 'Печь'!");
  EXPECT_EQ(Messages->Shown[0].Icon, TMsgIcon::Warning);
  EXPECT_TRUE(DropRegister(kR5, templ));
  EXPECT_EQ(templ->NodeCount(), 2);

  // Refused: a channel, a register on the root, anything while the network is closed.
  EXPECT_FALSE(DropRegister(QStringLiteral("D000C001"), templ));
  EXPECT_FALSE(DropRegister(kR5, RTemplates().get()));
  mainForm->SetNetworkOpen(false);
  TReportNode* other = dynamic_cast<TReportNode*>(RTemplates()->Node(0));
  EXPECT_FALSE(DropRegister(kR4, other));
  EXPECT_EQ(Messages->Shown.size(), 1u);

  EXPECT_FALSE(QFile::exists(ConfigFilePath(Current().Dir(), "RTEMPLATES")));
  mainForm->SetNetworkOpen(true);
  ClickTop("saveTemplatesAction");
  EXPECT_TRUE(QFile::exists(ConfigFilePath(Current().Dir(), "RTEMPLATES")));
}

TEST_F(ReportsWindowTest, AOneTimeReportSamplesShowsItsProgressAndIsArchivedAtTheEnd) {
  Show();
  TReportNode* templ = FurnaceTemplate();
  templ->SetTrigger(1);
  TReportNode* report = DropTemplate(templ);
  ASSERT_NE(report, nullptr);
  EXPECT_NE(report, templ);
  EXPECT_EQ(report->Caption(), "Печь");
  EXPECT_EQ(report->Trigger(), 1);
  EXPECT_EQ(report->ImageIndex(), iiSTOP);
  EXPECT_TRUE(RowImageIs(report, iiSTOP));
  ASSERT_EQ(report->NodeCount(), 2);
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(Reg(report, i)->Name(), Reg(templ, i)->Name());
    EXPECT_EQ(Reg(report, i)->MaxCount(), 20);
  }
  EXPECT_EQ(window->SelectedItem(), report);
  EXPECT_TRUE(QFile::exists(ConfigFilePath(Current().Dir(), "REPORTS")));

  Tick();  // not started: nothing sampled
  EXPECT_EQ(Reg(report)->Count(), 0);

  ClickBottom("startAction");
  EXPECT_TRUE(report->Enabled());
  EXPECT_EQ(report->ImageIndex(), iiPLAY);
  EXPECT_TRUE(RowImageIs(report, iiPLAY));
  // Seconds after 10:00:00.500 (ticks so far), samples per register and the "%" column.
  const struct {
    int Second;
    int Samples;
    const char* Percent;
  } steps[] = {{2, 0, "4"}, {3, 1, "5"}, {15, 5, "25"}, {30, 10, "50"}, {59, 19, "99"}};
  for (const auto& s : steps) {
    SCOPED_TRACE(s.Second);
    Ticks(s.Second - ticks);
    EXPECT_EQ(Reg(report)->Count(), s.Samples);
    EXPECT_EQ(Reg(report, 1)->Count(), s.Samples);
    EXPECT_EQ(Percent(report), s.Percent);
  }
  EXPECT_FALSE(Reg(report)->DataList().ToStringList().first().isEmpty()) << "the simulator answered";
  EXPECT_FALSE(QFileInfo::exists(ArchiveFile(kArchive)));

  Tick();  // 10:01:00.500: the window is over
  EXPECT_EQ(Percent(report), "100");
  EXPECT_TRUE(QFileInfo::exists(ArchiveFile(kArchive)));
  EXPECT_FALSE(report->Enabled());
  EXPECT_EQ(report->ImageIndex(), iiSTOP);
  EXPECT_TRUE(RowImageIs(report, iiSTOP));
  EXPECT_EQ(Reg(report)->Count(), 19) << "kept until the next start";
  auto archived = std::make_unique<TReportNode>(nullptr);
  archived->SetCaption(kArchive);
  LoadArchive(Current().Dir(), archived);
  ASSERT_EQ(archived->NodeCount(), 2);
  EXPECT_EQ(Reg(archived.get())->Count(), 19);
  EXPECT_TRUE(Messages->Shown.empty());
}

TEST_F(ReportsWindowTest, RealBoxesTellARefusedDropAndARefusedStart) {
  Show();
  TReportNode* templ = NewTemplate();
  templ->SetCaption(QStringLiteral("Печь"));
  DuplicateDropWithTheRealBox(templ, kR4, kR5, QStringLiteral("Этот регистр уже имеется\r\nв 'Печь'!"));

  // A start refused from the toolbar: told by the real box; the report stays stopped in its row.
  TReportNode* report = DropTemplate(FurnaceTemplate());
  ASSERT_NE(report, nullptr);
  report->SetMaxCount(0);
  for (TBoxClose how : {TBoxClose::Keys, TBoxClose::Click}) {
    SCOPED_TRACE(BoxCloseName(how));
    Messages->Shown.clear();
    TRealMessageBoxes boxes(how);
    ClickItem(List(), report);
    ClickBottom("startAction");
    EXPECT_EQ(boxes.Answered, 1);
    ASSERT_EQ(Messages->Shown.size(), 1u);
    EXPECT_TRUE(Messages->Shown[0].Text.startsWith("Отчет 'Печь' не запущен"))
        << Messages->Shown[0].Text.toStdString();
    EXPECT_FALSE(report->Enabled());
    EXPECT_TRUE(RowImageIs(report, iiSTOP));
  }
}

TEST_F(ReportsWindowTest, StartKeepsARunningWindowStopKeepsTheSamplesAndARestartClearsThem) {
  Show();
  TReportNode* report = DropTemplate(FurnaceTemplate());
  ASSERT_NE(report, nullptr);
  ClickBottom("startAction");
  Ticks(10);
  ASSERT_EQ(Reg(report)->Count(), 3);
  const double start = report->StartPoint();

  ClickBottom("startAction");  // already running: untouched
  EXPECT_EQ(Reg(report)->Count(), 3);
  EXPECT_EQ(report->StartPoint(), start);
  EXPECT_TRUE(RowImageIs(report, iiPLAY));

  ClickBottom("stopAction");
  EXPECT_FALSE(report->Enabled());
  EXPECT_EQ(report->ImageIndex(), iiSTOP);
  EXPECT_TRUE(RowImageIs(report, iiSTOP));
  Ticks(5);
  EXPECT_EQ(Reg(report)->Count(), 3) << "stopped: no samples, the old ones kept";
  Current().RecreateRoot(QStringLiteral("REPORTS"));
  LoadTreeFile(Current(), Reports());
  ASSERT_EQ(Reports()->NodeCount(), 1);
  EXPECT_EQ(Reports()->Node(0)->ImageIndex(), iiSTOP) << "the stop was saved";
  window->Rebuild();
  report = dynamic_cast<TReportNode*>(Reports()->Node(0));
  ClickItem(List(), report);

  ClickBottom("startAction");
  EXPECT_EQ(Reg(report)->Count(), 0);
  EXPECT_TRUE(report->Enabled());
  EXPECT_EQ(report->ImageIndex(), iiPLAY);

  // Settings that cannot run: refused with a message, and the report stays stopped.
  ClickBottom("stopAction");
  report->SetMaxCount(0);
  ClickBottom("startAction");
  EXPECT_FALSE(report->Enabled());
  EXPECT_EQ(report->ImageIndex(), iiSTOP);
  EXPECT_TRUE(RowImageIs(report, iiSTOP));
  ASSERT_EQ(Messages->Shown.size(), 1u);
  EXPECT_TRUE(Messages->Shown[0].Text.startsWith("Отчет 'Печь' не запущен"))
      << Messages->Shown[0].Text.toStdString();

  // Without a selected row the commands do nothing.
  List()->setCurrentItem(nullptr);
  for (const char* a : {"startAction", "archiveAction", "deleteItemAction"}) ClickBottom(a);
  EXPECT_EQ(Reports()->NodeCount(), 1);
  EXPECT_EQ(Messages->Shown.size(), 1u);
}

TEST_F(ReportsWindowTest, FinishAndArchiveStoresTheWindowOrKeepsTheReportWhenItCannot) {
  const struct {
    const char* Case;
    int Save;
    bool Obstructed;
  } cases[] = {
      {"archived though not archiving by itself", 1, false},
      {"archived", 0, false},
      {"a folder in the way of the archive file", 0, true},
  };
  Show();
  TReportNode* templ = FurnaceTemplate();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Case);
    QDir(ArchiveFile(kArchive)).removeRecursively();
    QFile::remove(ArchiveFile(kArchive));
    Messages->Shown.clear();
    ticks = 0;
    Clock->SetNow(kStart);
    templ->SetSave(c.Save);
    TReportNode* report = DropTemplate(templ);
    ASSERT_NE(report, nullptr);
    ClickBottom("startAction");
    Ticks(7);
    if (c.Obstructed) {
      ASSERT_TRUE(QDir().mkpath(ArchiveFile(kArchive)));
    }

    ClickBottom("archiveAction");
    if (c.Obstructed) {
      EXPECT_EQ(Messages->Texts(), QStringList{ArchiveFailedText(kArchive)});
      EXPECT_EQ(Messages->Shown[0].Icon, TMsgIcon::Error);
      ASSERT_EQ(Reports()->NodeCount(), 1);
      EXPECT_EQ(Reports()->Node(0), report);
      EXPECT_EQ(report->Caption(), "Печь");
      EXPECT_EQ(Reg(report)->Count(), 2);
      EXPECT_NE(NodeItem(List(), report), nullptr);
      ClickItem(List(), report);
      ClickBottom("deleteItemAction");
    } else {
      EXPECT_TRUE(Messages->Shown.empty());
      EXPECT_EQ(Reports()->NodeCount(), 0);
      EXPECT_EQ(List()->topLevelItemCount(), 0);
      auto archived = std::make_unique<TReportNode>(nullptr);
      archived->SetCaption(kArchive);
      LoadArchive(Current().Dir(), archived);
      ASSERT_EQ(archived->NodeCount(), 2);
      EXPECT_EQ(Reg(archived.get())->Count(), 2);
      Current().RecreateRoot(QStringLiteral("REPORTS"));
      LoadTreeFile(Current(), Reports());
      EXPECT_EQ(Reports()->NodeCount(), 0) << "the reports tree was saved";
      window->Rebuild();
    }
  }
}

TEST_F(ReportsWindowTest, PreviewGetsASnapshotThatIsDestroyedAfterwards) {
  Show();
  TReportNode* report = DropTemplate(FurnaceTemplate());
  ASSERT_NE(report, nullptr);
  int previews = 0;
  TReportRef shown;
  int shownSamples = -1;
  window->Preview = [&](TReportNode& copy) {
    ++previews;
    shown = TReportRef(copy);
    EXPECT_NE(&copy, report);
    EXPECT_EQ(copy.Owner(), nullptr);
    EXPECT_EQ(copy.Caption(), "Печь");
    EXPECT_EQ(copy.ImageIndex(), iiPLAY);
    EXPECT_EQ(copy.StartPoint(), report->StartPoint());
    ASSERT_EQ(copy.NodeCount(), 2);
    EXPECT_EQ(Reg(&copy)->DataList().ToStringList(), Reg(report)->DataList().ToStringList());
    // The report goes on while the preview is open; the snapshot does not.
    Ticks(6);
    EXPECT_EQ(Reg(report)->Count(), Reg(&copy)->Count() + 2);
    shownSamples = Reg(&copy)->Count();
  };
  ClickBottom("startAction");
  Ticks(6);
  ClickBottom("previewAction");
  EXPECT_EQ(previews, 1);
  EXPECT_EQ(shownSamples, 2);
  EXPECT_EQ(shown.Get(), nullptr) << "the snapshot is destroyed after the preview";
  EXPECT_EQ(Reports()->NodeCount(), 1);

  DoubleClickItem(List(), report);
  EXPECT_EQ(previews, 2);

  List()->setCurrentItem(nullptr);
  ClickBottom("previewAction");
  EXPECT_EQ(previews, 2);
  EXPECT_EQ(Messages->Texts(), QStringList{"Отчет не выбран!"});
  EXPECT_EQ(Messages->Shown[0].Icon, TMsgIcon::Warning);
}

TEST_F(ReportsWindowTest, PropertiesOpenOnlyWhileTheNetworkIsOpenAndReportsRunAnyway) {
  Show();
  TReportNode* templ = FurnaceTemplate();
  TRegisterNode* node = Reg(templ);
  QList<TReportNode*> edited;
  window->EditProperties = [&](TReportNode& t) {
    edited << &t;
    t.SetCaption(QStringLiteral("Печь 2"));
    return true;
  };

  mainForm->SetNetworkOpen(false);
  EXPECT_FALSE(TopToolBar()->isVisible());
  {
    TNoModalWindow none;
    for (TRootNode* n : {static_cast<TRootNode*>(templ), static_cast<TRootNode*>(node), RTemplates().get()})
      DoubleClickItem(Tree(), n);
    ProcessEventsFor(50);
  }
  EXPECT_TRUE(edited.isEmpty());
  // Reports are made, started, previewed and deleted all the same.
  TReportNode* report = DropTemplate(templ);
  ASSERT_NE(report, nullptr);
  ClickBottom("startAction");
  Ticks(3);
  EXPECT_EQ(Reg(report)->Count(), 1);
  int previews = 0;
  window->Preview = [&](TReportNode&) { ++previews; };
  ClickBottom("previewAction");
  EXPECT_EQ(previews, 1);
  ClickBottom("deleteItemAction");
  EXPECT_EQ(Reports()->NodeCount(), 0);

  // Open: a template goes to the report settings, its tree text follows; a register to the
  // register dialog without its polling page, which comes back afterwards.
  mainForm->SetNetworkOpen(true);
  EXPECT_TRUE(TopToolBar()->isVisible());
  DoubleClickItem(Tree(), templ);
  EXPECT_EQ(edited, QList<TReportNode*>{templ});
  EXPECT_EQ(NodeItem(Tree(), templ)->text(0), "Печь 2");

  bool pollingShown = true;
  TRegisterPropertiesForm* dialog = nullptr;
  WhenModal<TRegisterPropertiesForm>([&](TRegisterPropertiesForm* d) {
    dialog = d;
    pollingShown = Child<QTabWidget>(*d, "pageTabs")->isTabVisible(2);
    d->reject();
  });
  DoubleClickItem(Tree(), node);
  ASSERT_NE(dialog, nullptr);
  EXPECT_FALSE(pollingShown);
  EXPECT_TRUE(Child<QTabWidget>(*dialog, "pageTabs")->isTabVisible(2));
  EXPECT_EQ(edited.size(), 1);
}

TEST_F(ReportsWindowTest, TheTickRunsWhetherShownOrNot) {
  EXPECT_EQ(timer->Interval(), 1000);
  EXPECT_TRUE(timer->Active());

  // Never shown: a running report is still sampled and its window archived.
  auto* report = new TReportNode(Reports().get());
  report->SetCaption(QStringLiteral("Печь"));
  report->SetTrigger(1);
  auto* reg = new TRegisterNode(report);
  reg->Assign(*r4);
  ASSERT_TRUE(report->StartReport().Empty());
  report->SetImageIndex(iiPLAY);
  EXPECT_FALSE(window->isVisible());
  Ticks(60);
  EXPECT_EQ(reg->Count(), 19);
  EXPECT_TRUE(QFileInfo::exists(ArchiveFile(kArchive)));
  EXPECT_FALSE(report->Enabled());
  EXPECT_EQ(report->ImageIndex(), iiSTOP);
}

}  // namespace
}  // namespace vexa::test
