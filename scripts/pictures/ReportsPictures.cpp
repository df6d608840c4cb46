// A picture of the reports window for the documentation.

#include <gtest/gtest.h>

#include <QDir>
#include <QDropEvent>
#include <QMimeData>
#include <QTreeWidget>
#include <memory>

#include "Pictures.h"
#include "core/Network.h"
#include "core/RegisterNode.h"
#include "reports/gui/ReportsUnit.h"
#include "reports/model/ReportNode.h"
#include "support/Child.h"
#include "ui/MainUnit.h"
#include "ui/ManualTimer.h"
#include "ui/TemplatesWindowTest.h"

namespace vexa::test {
namespace {

class ReportsPictures : public TPicturesTest {
 protected:
  void SetUp() override {
    TPicturesTest::SetUp();
    if (HasFatalFailure()) return;
    ASSERT_TRUE(QDir(Dir->path()).mkpath(QStringLiteral("Config")));
    Settings()->SetDemo(true);
  }

  // A template "Печь" of the two zones' temperatures, and an empty one.
  TReportNode* Template() {
    auto* templ = new TReportNode(RTemplates().get());
    templ->SetCaption(QStringLiteral("Печь"));
    templ->SetImageIndex(iiNEW);
    templ->SetTrigger(1);
    for (int zone = 0; zone < 2; ++zone) {
      auto* reg = new TRegisterNode(templ);
      reg->SetName(TCustomRegister::RegisterName(0, zone, 1));
      reg->SetCaption(QStringLiteral("Температура.Зона %1.Печь").arg(zone + 1));
      reg->SetRegisterType(rtINT);
      reg->SetImageIndex(iiREPORTN);
    }
    auto* other = new TReportNode(RTemplates().get());
    other->SetCaption(QStringLiteral("Сушка"));
    other->SetImageIndex(iiNEW);
    return templ;
  }
};

TEST_F(ReportsPictures, TemplatesAndARunningReport) {
  TReportNode* templ = Template();
  TMainForm mainForm(Current());
  mainForm.SetNetworkOpen(true);
  TReportsForm window(Current(), &mainForm.Session());
  TManualTicks ticks(Current(), TTick::Reports, [&window] { return window.Tick(); });
  TManualTimer* timer = ticks.Timer;
  ASSERT_TRUE(Activate(&window));

  // Two reports made as the operator makes them, the first one running for a while.
  for (int i = 0; i < 2; ++i)
    ASSERT_TRUE(DragTemplateToList(Child<QTreeWidget>(window, "templatesTree"),
                                   Child<QTreeWidget>(window, "itemsList"), templ));
  Reports()->Node(1)->SetCaption(QStringLiteral("Печь, смена 2"));
  window.Rebuild();
  window.SelectListItem(Reports()->Node(0));
  Child<QAction>(window, "startAction")->trigger();
  for (int i = 0; i < 25; ++i) {
    Clock->Advance(kReportTickMs);
    timer->Advance(kReportTickMs);
  }
  window.SelectTreeNode(templ->Node(0));
  Save(&window, QStringLiteral("reports-window.png"));
}

}  // namespace
}  // namespace vexa::test
