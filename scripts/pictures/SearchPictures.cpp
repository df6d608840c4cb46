// Pictures of a search for the documentation: its report and the structure window that comes up
// after it, on a line that loses some answers.

#include <gtest/gtest.h>

#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTreeWidget>
#include <memory>

#include "Pictures.h"
#include "core/ExecuterUnit.h"
#include "core/Network.h"
#include "core/RegisterNode.h"
#include "core/SetupNode.h"
#include "core/SimulatedNetwork.h"
#include "storage/TreeFiles.h"
#include "support/Child.h"
#include "ui/MainUnit.h"
#include "ui/config/NetUnit.h"
#include "ui/config/SetupUnit.h"
#include "ui/parts/MessageBoxService.h"

namespace vexa::test {
namespace {

class TSearchPictures : public TPicturesTest {};

TEST_F(TSearchPictures, ReportAndStructureWindow) {
  // Channel templates for the two channel types of the simulated network.
  QDir(Current().Dir()).mkdir(QStringLiteral("Config"));
  const char* const kinds[] = {"Аналоговый вход", "Дискретный выход"};
  const char* const names[][2] = {{"Температура", "Уставка"}, {"Состояние", "Режим"}};
  for (int type = 0; type < 2; ++type) {
    auto* pattern = new TRootNode(Registry().get());
    pattern->SetName(QStringLiteral("T%1").arg(type));
    pattern->SetCaption(QStringLiteral("00%1").arg(type));
    pattern->SetComments(QString::fromUtf8(kinds[type]));
    for (int k = 0; k < 3; ++k) {
      auto* reg = new TRegisterNode(pattern);
      reg->SetName(QStringLiteral("R%1").arg(k));
      reg->SetCaption(k == 0 ? QStringLiteral("Идентификатор") : QString::fromUtf8(names[type][k - 1]));
      reg->SetComments(reg->Caption());
    }
  }
  ASSERT_TRUE(SaveTreeFile(Current(), *Registry()));

  // The simulated network on the scripted port; every fifth answer is lost.
  TSimNetwork network;
  int requests = 0;
  Port->Respond = [&](const QByteArray& request) -> std::vector<TChunk> {
    if (++requests % 5 == 2) return {};
    const auto answer = network.Answer(request, Current().Line().Random());
    if (!answer) return {};
    return {{*answer, 2}};
  };

  TMainForm main(Current());
  TSetupForm setup(Current(), &main);
  TNetForm net(Current(), &main.Session());
  main.SetWindow(TWindowRole::Setup, &setup);
  main.SetWindow(TWindowRole::NetTree, &net);
  main.SetNetworkOpen(true);
  ASSERT_TRUE(Activate(&main));
  EXPECT_NO_FAULTS(Current().SetPortIndex(0));
  ASSERT_TRUE(Port->Connected());
  Services().Messages = std::make_unique<TMessageBoxService>();
  Messages = nullptr;

  bool reported = false, shown = false;
  WhenModal<TSetupForm>([&](TSetupForm* s) {
    WhenModal<QMessageBox>([&](QMessageBox* question) {
      QTest::mouseClick(question->button(QMessageBox::Yes), Qt::LeftButton);
      WhenModal<QMessageBox>([&](QMessageBox* report) {
        Save(report, "search-report.png");
        reported = true;
        KeyClick(report, Qt::Key_Return);
        WhenModal<TNetForm>([&](TNetForm* structure) {
          Child<QTreeWidget>(*structure, "networkTree")->expandToDepth(1);
          if (QTreeWidgetItem* top = Child<QTreeWidget>(*structure, "networkTree")->topLevelItem(0))
            if (top->childCount() > 0 && top->child(0)->childCount() > 1) {
              QTreeWidgetItem* channel = top->child(0)->child(1);
              QTest::mouseClick(
                  Child<QTreeWidget>(*structure, "networkTree")->viewport(), Qt::LeftButton, {},
                  Child<QTreeWidget>(*structure, "networkTree")->visualItemRect(channel).center());
            }
          Save(structure, "search-structure.png");
          shown = true;
          KeyClick(structure, Qt::Key_Escape);
        });
      });
    });
    Child<QRadioButton>(*s, "afreshButton")->setChecked(true);
    QTest::mouseClick(Child<QPushButton>(*s, "searchButton"), Qt::LeftButton);
    QTest::mouseClick(Child<QPushButton>(*s, "cancelButton"), Qt::LeftButton);
  });
  Child<QAction>(main, "setupAction")->trigger();
  Current().StopPoller();
  EXPECT_TRUE(reported);
  EXPECT_TRUE(shown);
}

}  // namespace
}  // namespace vexa::test
