// Pictures of the processes window and the cyclogram editor for the documentation.

#include <gtest/gtest.h>

#include <QDir>
#include <QDropEvent>
#include <QMimeData>
#include <QPixmap>
#include <QTableWidget>
#include <QTreeWidget>
#include <memory>

#include "Pictures.h"
#include "core/Network.h"
#include "core/RegisterNode.h"
#include "processes/gui/CycloEditUnit.h"
#include "processes/gui/TasksUnit.h"
#include "processes/model/CommandNode.h"
#include "processes/model/ProcessTick.h"
#include "support/Child.h"
#include "ui/MainUnit.h"
#include "ui/ManualTimer.h"
#include "ui/OperatorInput.h"
#include "ui/TemplatesWindowTest.h"
#include "ui/parts/NodeViews.h"

namespace vexa::test {
namespace {

class ProcessesPictures : public TPicturesTest {
 protected:
  void SetUp() override {
    TPicturesTest::SetUp();
    if (HasFatalFailure()) return;
    ASSERT_TRUE(QDir(Dir->path()).mkpath(QStringLiteral("Config")));
    Settings()->SetDemo(true);
  }

  // A template "Отжиг" of two zones: heat to 450, hold, cool.
  TRootNode* Template() {
    auto* templ = new TRootNode(TTemplates().get());
    templ->SetCaption(QStringLiteral("Отжиг"));
    templ->SetImageIndex(iiCYCLO);
    for (int zone = 0; zone < 2; ++zone) {
      auto* node = new TCommandNode(templ);
      node->SetName(TCustomRegister::RegisterName(0, zone, 4));
      node->SetCaption(QStringLiteral("Уставка.Зона %1.Печь").arg(zone + 1));
      node->SetRegisterType(rtINT);
      node->SetUserCanWRITE(true);
      node->SetImageIndex(iiTABLE);
      node->SetXScale(0.1);  // the whole programme across the graph
      node->SetDataList(QStringList{"20", "450", "450", "20"});
      node->SetPoints(QStringList{"0", "600", "1800", "600"});
    }
    auto* drying = new TRootNode(TTemplates().get());
    drying->SetCaption(QStringLiteral("Сушка"));
    drying->SetImageIndex(iiCYCLO);
    return templ;
  }
};

TEST_F(ProcessesPictures, TemplatesARunningProcessAndTheEditor) {
  TRootNode* templ = Template();
  TMainForm mainForm(Current());
  mainForm.SetNetworkOpen(true);
  TTasksForm window(Current(), &mainForm.Session());
  TManualTicks ticks(Current(), TTick::Processes, [&window] { return window.Tick(); });
  TManualTimer* timer = ticks.Timer;
  ASSERT_TRUE(Activate(&window));

  // Two processes made as the operator makes them, the first one running for a while.
  for (int i = 0; i < 2; ++i)
    ASSERT_TRUE(DragTemplateToList(Child<QTreeWidget>(window, "templatesTree"),
                                   Child<QTreeWidget>(window, "itemsList"), templ));
  Tasks()->Node(1)->SetCaption(QStringLiteral("Отжиг, печь 2"));
  window.Rebuild();
  window.SelectListItem(Tasks()->Node(0));
  Child<QAction>(window, "startAction")->trigger();
  for (int i = 0; i < 60; ++i) {
    Clock->Advance(kProcessTickMs);
    timer->Advance(kProcessTickMs);
  }
  window.SelectTreeNode(templ->Node(0));
  Save(&window, "processes-window.png");

  TCycloEditForm editor(Current(), &mainForm.Session());
  editor.SetNode(dynamic_cast<TCommandNode*>(templ->Node(0)));
  editor.resize(520, 280);
  ASSERT_TRUE(Activate(&editor));
  Child<QTableWidget>(editor, "pointsGrid")->setCurrentCell(1, 0);
  Save(&editor, "cyclogram-editor.png");
  Messages->Answers = {mbNo};
  editor.close();
}

}  // namespace
}  // namespace vexa::test
