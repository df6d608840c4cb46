// Rules of the network settings window that hold without the window: the diagram list's edits and
// what confirming stores.

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <functional>

#include "core/Network.h"
#include "core/SetupNode.h"
#include "storage/TreeFiles.h"
#include "support/TestSupport.h"
#include "ui/model/SetupRules.h"

namespace vexa::test {
namespace {

TDiagramList ThreeRows() {
  TDiagramList list;
  list.Load({"A", "B", "C"}, {"a.bmp", "b.bmp", "c.bmp"});
  return list;
}

TEST(SetupRules, ListEditsReturnTheRowToSelectAndMarkOnlyRealChanges) {
  using TEdit = std::function<int(TDiagramList&)>;
  const struct {
    const char* Case;
    TEdit Edit;
    int Selected;
    QStringList Names;
    bool Changed;
  } cases[] = {
      {"add", [](TDiagramList& l) { return l.Add("d.bmp"); }, 3, {"A", "B", "C", "Новая мнемосхема"}, true},
      {"remove the middle", [](TDiagramList& l) { return l.Remove(1); }, 0, {"A", "C"}, true},
      {"remove nothing", [](TDiagramList& l) { return l.Remove(3); }, 0, {"A", "B", "C"}, false},
      {"up", [](TDiagramList& l) { return l.MoveUp(2); }, 1, {"A", "C", "B"}, true},
      {"up at the top", [](TDiagramList& l) { return l.MoveUp(0); }, 0, {"A", "B", "C"}, false},
      {"down", [](TDiagramList& l) { return l.MoveDown(0); }, 1, {"B", "A", "C"}, true},
      {"down at the bottom", [](TDiagramList& l) { return l.MoveDown(2); }, 2, {"A", "B", "C"}, false},
      {"down with none selected", [](TDiagramList& l) { return l.MoveDown(-1); }, -1, {"A", "B", "C"}, false},
      {"change a file", [](TDiagramList& l) { return l.ChangeFile(1, "x.bmp"); }, 1, {"A", "B", "C"}, true},
      {"change nothing",
       [](TDiagramList& l) { return l.ChangeFile(-1, "x.bmp"); },
       -1,
       {"A", "B", "C"},
       false},
      {"rename",
       [](TDiagramList& l) {
         l.Rename(2, "Котельная");
         return 2;
       },
       2,
       {"A", "B", "Котельная"},
       true},
      {"rename to the same name",
       [](TDiagramList& l) {
         l.Rename(2, "C");
         return 2;
       },
       2,
       {"A", "B", "C"},
       false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Case);
    TDiagramList list = ThreeRows();
    EXPECT_EQ(c.Edit(list), c.Selected);
    EXPECT_EQ(list.Names(), c.Names);
    EXPECT_EQ(list.Changed(), c.Changed);
    EXPECT_EQ(list.Files().size(), list.Names().size());
  }

  // Files move with their names; removing the last row leaves nothing to select and nothing to confirm.
  TDiagramList list = ThreeRows();
  list.MoveDown(0);
  EXPECT_EQ(list.Files(), QStringList({"b.bmp", "a.bmp", "c.bmp"}));
  EXPECT_TRUE(list.CanConfirm());
  list.Remove(0);
  list.Remove(0);
  EXPECT_EQ(list.Remove(0), -1);
  EXPECT_FALSE(list.CanConfirm());
  // Loading starts over unchanged; a name without a file gets an empty one.
  list.Load({"A", "B"}, {"a.bmp"});
  EXPECT_FALSE(list.Changed());
  EXPECT_EQ(list.Files(), QStringList({"a.bmp", ""}));
}

class SetupConfirmTest : public TVexaTest {};

TEST_F(SetupConfirmTest, ConfirmStoresTheFieldsSavesTheFileAndAsksForARestartOnlyWhenPagesChanged) {
  QDir(Current().Dir()).mkdir("Config");
  for (const bool edited : {false, true}) {
    SCOPED_TRACE(edited ? "pages edited" : "pages as they were");
    TDiagramList list;
    list.Load({"Цех"}, {"ceh.bmp"});
    if (edited) list.Rename(0, "Цех 2");
    const TSetupFields fields{QStringLiteral("Пароль"), 500, true, false, true};
    const TSetupConfirmed confirmed = ConfirmSetup(Current(), fields, list);
    EXPECT_EQ(confirmed.Restart, edited);
    EXPECT_TRUE(confirmed.Faults.Empty()) << confirmed.Faults.Texts().join(' ').toStdString();

    auto saved = std::make_unique<TSetupNode>(nullptr);
    saved->SetName("SETUP");
    LoadTreeFile(Current(), saved);
    for (const TSetupNode* s : {Settings().get(), saved.get()}) {
      EXPECT_EQ(s->Password(), "Пароль");
      EXPECT_EQ(s->AutoSaveInterval(), 120);  // kept to what the field allows
      EXPECT_TRUE(s->AutoSaveEnabled());
      EXPECT_FALSE(s->AutoLoadEnabled());
      EXPECT_TRUE(s->Demo());
      EXPECT_EQ(s->MNames(), list.Names());
      EXPECT_EQ(s->MFiles(), QStringList({"ceh.bmp"}));
    }
  }
}

TEST(SetupRules, PortEntryShowsTheDeviceItReallyOpens) {
  QTemporaryDir dir;
  const QString link = dir.filePath("COM2");
  ASSERT_TRUE(QFile::link("/dev/null", link));
  const struct {
    TPortEntry Entry;
    QString Caption;
  } cases[] = {
      {{"COM2", link, TPortState::Free}, "COM2 — /dev/null"},
      {{"COM1 (не существует)", "/dev/ttyUSB-none", TPortState::Missing},
       "COM1 (не существует) — /dev/ttyUSB-none"},
  };
  for (const auto& c : cases) EXPECT_EQ(PortEntryCaption(c.Entry), c.Caption);
}

}  // namespace
}  // namespace vexa::test
