// The limits dialog's rules without the dialog, and the journal's export text.

#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

#include "alarms/model/AlarmLimits.h"
#include "alarms/model/AlarmMonitor.h"
#include "alarms/model/AlarmNode.h"
#include "alarms/model/AlarmTexts.h"
#include "core/Network.h"
#include "core/RegisterNode.h"
#include "core/Services.h"
#include "storage/CompoundFile.h"
#include "storage/ConfigText.h"
#include "storage/TreeFiles.h"
#include "support/TestSupport.h"
#include "support/Trees.h"

namespace vexa::test {
namespace {

const QString kName = QStringLiteral("D001C000R001");

class AlarmLimitsTest : public TVexaTest {
 protected:
  void SetUp() override {
    TVexaTest::SetUp();
    QDir(Dir->path()).mkpath(QStringLiteral("Config"));
  }
  static TAlarmLimitsEdit Edit(std::array<const char*, 4> limits, std::array<bool, 4> on) {
    TAlarmLimitsEdit edit;
    edit.Enabled = true;
    for (int i = 0; i < 4; ++i) {
      edit.Limit[i] = QString::fromUtf8(limits[i]);
      edit.LimitEnabled[i] = on[i];
    }
    return edit;
  }
};

// A regulator's communication alarm is found from any node under it and written to the
// regulator's own node, which keeps no limits.
TEST_F(AlarmLimitsTest, ARegulatorsCommunicationAlarmIsFoundFromItsNodesAndWritten) {
  AddRegisterNode(AddChannelNode(AddRegulatorNode(*Net(), 1), 0), 1);
  const std::pair<const char*, const char*> found[] = {
      {"D001C000R001", "D001"}, {"D001C000", "D001"}, {"D001", "D001"}, {"D002C000R001", ""}};
  for (const auto& [name, regulator] : found)
    EXPECT_EQ(RegulatorOf(Current(), QString::fromLatin1(name)), QString::fromLatin1(regulator)) << name;
  // A node of the first layout with limits set on the regulator by hand: they go off.
  ASSERT_TRUE(ApplyAlarmLimits(Current(), QStringLiteral("D001"),
                               Edit({"", "80", "", ""}, {false, true, false, false}))
                  .Written);
  const TCommAlarmEdit comm{true, 5, 1};
  const TAlarmLimitsApplied applied = ApplyCommAlarm(Current(), QStringLiteral("D001"), comm);
  EXPECT_TRUE(applied.Written && applied.Faults.Texts().isEmpty());
  EXPECT_EQ(ReadCommAlarm(Current(), QStringLiteral("D001")), comm);
  const TAlarmNode* node = FindAlarmNode(Current().Alarms().get(), QStringLiteral("D001"));
  ASSERT_NE(node, nullptr);
  EXPECT_FALSE(node->HiEnabled());
  EXPECT_TRUE(QFileInfo::exists(ConfigFilePath(Current().Dir(), QStringLiteral("ALARMS"))));
}

// The journal's export is proposed outside the archive folder, in the folder last exported to
// while it exists; the choice is kept in ALARMS.cfg.
TEST_F(AlarmLimitsTest, TheJournalsExportIsProposedWhereTheLastOneWent) {
  QDir(Dir->path()).mkpath(QStringLiteral("Archives"));
  QDir(Dir->path()).mkpath(QStringLiteral("out"));
  const QString inProgram = Dir->filePath(QStringLiteral("alarms.txt"));
  EXPECT_EQ(SuggestedJournalExport(Current()), inProgram) << "never exported";
  const struct {
    const char* Exported;  // under the folder
    const char* Proposed;  // then, under the folder; "" the program's folder
  } cases[] = {
      {"out/a.txt", "out/alarms.txt"},
      {"Archives/b.txt", ""},  // the archive list would show it
      {"gone/c.txt", ""},      // the folder no longer there
      {"out/d.txt", "out/alarms.txt"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Exported);
    EXPECT_TRUE(
        RememberJournalExport(Current(), Dir->filePath(QString::fromLatin1(c.Exported))).Texts().isEmpty());
    const QString proposed = *c.Proposed ? Dir->filePath(QString::fromLatin1(c.Proposed)) : inProgram;
    EXPECT_EQ(SuggestedJournalExport(Current()), proposed);
  }
  // Read back from the saved settings.
  TNetwork again(Current().Dir(), nullptr);
  LoadTreeFile(again, again.Alarms());
  EXPECT_EQ(SuggestedJournalExport(again), Dir->filePath(QStringLiteral("out/alarms.txt")));
}

TEST_F(AlarmLimitsTest, WrongInputIsRefusedAndWritesNothing) {
  struct TCase {
    const char* Name;
    TAlarmLimitsEdit Edit;
    const char* Fault;  // a part of the first fault's text
  };
  TAlarmLimitsEdit negativeBand = Edit({"90", "80", "20", "10"}, {true, true, true, true});
  negativeBand.Deadband = QStringLiteral("-1");
  TAlarmLimitsEdit badPriority = Edit({"", "80", "", ""}, {false, true, false, false});
  badPriority.Priority = 4;
  TAlarmLimitsEdit hugeBand = Edit({"", "80", "", ""}, {false, true, false, false});
  hugeBand.Deadband = QStringLiteral("1e308");
  const TCase cases[] = {
      {"a limit that is no number", Edit({"", "abc", "", ""}, {false, true, false, false}),
       "не является числом"},
      {"a disabled limit with text that is no number", Edit({"x", "", "", ""}, {false, false, false, false}),
       "не является числом"},
      {"a negative deadband", negativeBand, "Зона нечувствительности"},
      {"a priority past 3", badPriority, "Приоритет"},
      {"a limit past the range", Edit({"", "2e9", "", ""}, {false, true, false, false}),
       "должна быть числом от"},
      {"a limit that is not finite", Edit({"", "", "INF", ""}, {false, false, true, false}), "нижняя"},
      {"a deadband past the range", hugeBand, "Зона нечувствительности"},
      {"H above HH", Edit({"50", "60", "", ""}, {true, true, false, false}), "аварийная верхняя"},
      {"L not below H", Edit({"", "50", "50", ""}, {false, true, true, false}), "больше"},
      {"LL above L", Edit({"", "", "20", "30"}, {false, false, true, true}), "нижняя"},
      {"HH not above LL with H and L off", Edit({"10", "", "", "10"}, {true, false, false, true}), "больше"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    const TAlarmLimitsApplied applied = ApplyAlarmLimits(Current(), kName, c.Edit);
    EXPECT_FALSE(applied.Written);
    ASSERT_FALSE(applied.Faults.Texts().isEmpty());
    EXPECT_TRUE(applied.Faults.Texts().first().contains(QString::fromUtf8(c.Fault)))
        << applied.Faults.Texts().first().toStdString();
    EXPECT_EQ(Current().Alarms()->ComponentCount(), 0);
    EXPECT_FALSE(QFileInfo::exists(ConfigFilePath(Current().Dir(), QStringLiteral("ALARMS"))));
  }
}

// A file is held to the dialog's rules: what the dialog would refuse, the load refuses, naming the
// object, the property and the value, as the other range checks do.
TEST_F(AlarmLimitsTest, AFileIsHeldToTheDialogsRules) {
  struct TCase {
    const char* Node;     // the alarm node's line
    const char* Refusal;  // parts of the refusal, empty when it loads
  };
  const TCase cases[] = {
      {"HiEnabled=True HiLimit=NaN", "D001C000R001 (TAlarmNode): HiLimit=NaN is out of range"},
      {"LoEnabled=False LoLimit=NaN", "LoLimit=NaN"},
      {"HiHiLimit=1e308", "HiHiLimit=1e+308"},
      {"LoLoLimit=-1000000001.0", "LoLoLimit=-1000000001"},
      {"Deadband=NaN", "Deadband=NaN"},
      {"Deadband=-1000.0", "Deadband=-1000"},
      {"Deadband=1e308", "Deadband=1e+308"},
      {"HiEnabled=True HiLimit=10.0 LoEnabled=True LoLimit=20.0",
       "HiLimit=10 and LoLimit=20 are out of order"},
      {"HiHiEnabled=True HiHiLimit=50.0 HiEnabled=True HiLimit=60.0", "HiHiLimit=50 and HiLimit=60"},
      {"HiEnabled=True HiLimit=10.0 LoEnabled=False LoLimit=20.0", ""},
      {"HiHiEnabled=True HiHiLimit=1000000000.0 LoLoEnabled=True LoLoLimit=-1000000000.0 "
       "Deadband=1000000000.0",
       ""},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Node);
    const QString text =
        QStringLiteral("TRootNode ALARMS\n  TAlarmNode %1 Enabled=True %2\n").arg(kName, c.Node);
    QString refusal;
    try {
      CompoundFileFromText(text, QStringLiteral("ALARMS"));
    } catch (const ETextError& e) {
      refusal = e.Reason;
    }
    if (*c.Refusal == 0)
      EXPECT_TRUE(refusal.isEmpty()) << refusal.toStdString();
    else
      EXPECT_TRUE(refusal.contains(QString::fromUtf8(c.Refusal))) << refusal.toStdString();
  }
}

// What watches nothing is told when the alarms start: a node of another class in ALARMS, and a
// limit for a register the network does not have.
TEST_F(AlarmLimitsTest, SettingsThatWatchNothingAreToldAtStart) {
  auto* reg = new TRegisterNode(Net().get());
  reg->SetName(kName);
  const auto watch = [this](const QString& name) {
    auto* node = new TAlarmNode(Current().Alarms().get());
    node->SetName(name);
    node->SetEnabled(true);
  };
  watch(kName);
  TAlarmMonitor clean(Current());
  EXPECT_TRUE(clean.Open().Texts().isEmpty()) << clean.Open().Texts().join(' ').toStdString();
  for (int i = 0; i < 12; ++i) watch(QStringLiteral("D009C000R%1").arg(i, 3, 10, QLatin1Char('0')));
  (new TRegisterNode(Current().Alarms().get()))->SetName(QStringLiteral("STRAY"));
  TAlarmMonitor monitor(Current());
  const QStringList told = monitor.Open().Texts();
  ASSERT_EQ(told.size(), 2) << told.join(" | ").toStdString();
  EXPECT_TRUE(told[0].contains(QStringLiteral("STRAY (TRegisterNode)"))) << told[0].toStdString();
  EXPECT_TRUE(told[1].contains(QStringLiteral("D009C000R000")) && !told[1].contains(kName) &&
              told[1].contains(QStringLiteral("и ещё 2")))
      << told[1].toStdString();
}

// More limits than one stored level holds: the nested layout saves and loads 5,000 of them with
// the regulators' own alarms, and a flat file of the first layout takes new limits beside its own.
TEST_F(AlarmLimitsTest, ThousandsOfLimitsSaveAndLoadInTheNestedLayoutBesideAFlatFile) {
  const auto registerName = [](int d, int c, int r) { return TCustomRegister::RegisterName(d, c, r); };
  for (int d = 0; d < 50; ++d) {
    TRootNode& regulator = AddRegulatorNode(*Net(), d);
    for (int c = 0; c < 10; ++c) {
      TRootNode& channel = AddChannelNode(regulator, c);
      for (int r = 0; r < 10; ++r) AddRegisterNode(channel, r, {.Type = rtUnknown});
    }
  }
  // The first layout: every node right under ALARMS, a regulator's alarm named as the regulator.
  for (const QString& flat : {QStringLiteral("D000"), registerName(0, 0, 0)}) {
    auto* node = new TAlarmNode(Current().Alarms().get());
    node->SetName(flat);
    node->SetEnabled(true);
  }
  ASSERT_TRUE(SaveTreeFile(Current(), *Net()));
  ASSERT_TRUE(SaveTreeFile(Current(), *Current().Alarms()));
  // Through the dialog's rules, one saved; the rest as the dialog places them.
  TAlarmLimitsEdit edit = Edit({"", "80", "", ""}, {false, true, false, false});
  ASSERT_TRUE(ApplyAlarmLimits(Current(), registerName(0, 0, 1), edit).Written);
  int made = 3;  // the two of the flat file and the one through the dialog
  for (int d = 0; d < 50; ++d)
    for (int c = 0; c < 10; ++c)
      for (int r = 0; r < 10; ++r) {
        const QString name = registerName(d, c, r);
        if (FindAlarmNode(Current().Alarms().get(), name) != nullptr) continue;
        auto* node = new TAlarmNode(&AlarmLevelFor(Current(), name));
        node->SetName(name);
        node->SetEnabled(true);
        node->SetHiEnabled(true);
        node->SetHiLimit(d * 1000 + c * 10 + r);
        ++made;
      }
  for (int d = 1; d < 50; ++d) {
    const QString name = QStringLiteral("D%1").arg(d, 3, 10, QLatin1Char('0'));
    (new TAlarmNode(&AlarmLevelFor(Current(), name)))->SetName(name);
    ++made;
  }
  ASSERT_EQ(made, 5050);
  for (int i = 0; i < Current().Alarms()->ComponentCount(); ++i)
    EXPECT_LE(Current().Alarms()->Component(i)->ComponentCount(), 100) << "a level holds a channel's limits";
  ASSERT_TRUE(SaveTreeFile(Current(), *Current().Alarms()));

  TNetwork reread(Current().Dir(), nullptr);
  LoadTreeFile(reread, reread.Net());
  LoadTreeFile(reread, reread.Alarms());
  EXPECT_EQ(AlarmNodes(reread.Alarms().get()).size(), 5050u);
  EXPECT_EQ(ReadAlarmLimits(reread, registerName(0, 0, 1)).Limit[1], QStringLiteral("80"));
  EXPECT_EQ(StrToFloat(ReadAlarmLimits(reread, registerName(42, 7, 3)).Limit[1]), 42073.0);
  TAlarmMonitor monitor(reread);
  EXPECT_TRUE(monitor.Open(Dir->path() + "/journal.sqlite").Texts().isEmpty())
      << "every limit watches its register";
  EXPECT_EQ(monitor.WatchedCount(), 5000);
}

TEST_F(AlarmLimitsTest, ValidLimitsMakeTheNodeSaveTheFileAndReadBack) {
  TAlarmLimitsEdit edit = Edit({"95,5", "80", "20", "5"}, {true, true, false, true});
  edit.Deadband = QStringLiteral("1,5");
  edit.DelaySeconds = 30;
  edit.Priority = 1;
  const TAlarmLimitsApplied applied = ApplyAlarmLimits(Current(), kName, edit);
  EXPECT_TRUE(applied.Written);
  EXPECT_TRUE(applied.Faults.Texts().isEmpty()) << applied.Faults.Texts().join(' ').toStdString();
  ASSERT_EQ(Current().Alarms()->ComponentCount(), 1);
  const auto* node = dynamic_cast<TAlarmNode*>(Current().Alarms()->Component(0));
  ASSERT_NE(node, nullptr);
  EXPECT_EQ(node->Name(), kName);
  EXPECT_DOUBLE_EQ(node->HiHiLimit(), 95.5);
  EXPECT_DOUBLE_EQ(node->Deadband(), 1.5);
  EXPECT_FALSE(node->LoEnabled());
  EXPECT_FALSE(node->Changed()) << "saved";

  // Read from the saved file by another network of the same folder.
  TNetwork reread(Current().Dir(), nullptr);
  LoadTreeFile(reread, reread.Alarms());
  const TAlarmLimitsEdit back = ReadAlarmLimits(reread, kName);
  EXPECT_TRUE(back.Enabled);
  EXPECT_EQ(back.LimitEnabled, (std::array<bool, 4>{true, true, false, true}));
  EXPECT_EQ(StrToFloat(back.Limit[0]), 95.5);
  EXPECT_EQ(back.DelaySeconds, 30);
  EXPECT_EQ(back.Priority, 1);

  // A second edit changes the same node.
  edit.Enabled = false;
  EXPECT_TRUE(ApplyAlarmLimits(Current(), kName, edit).Written);
  EXPECT_EQ(Current().Alarms()->ComponentCount(), 1);
  EXPECT_FALSE(ReadAlarmLimits(Current(), kName).Enabled);
}

TEST_F(AlarmLimitsTest, TheBeepIsOnUntilSwitchedOffAndTheSwitchIsSaved) {
  EXPECT_TRUE(AlarmBeep(Current().Alarms().get()));
  EXPECT_TRUE(SetAlarmBeep(Current(), false).Texts().isEmpty());
  EXPECT_FALSE(AlarmBeep(Current().Alarms().get()));
  TNetwork reread(Current().Dir(), nullptr);
  LoadTreeFile(reread, reread.Alarms());
  EXPECT_FALSE(AlarmBeep(reread.Alarms().get()));
  EXPECT_EQ(JournalKeepDays(reread.Alarms().get()), kDefaultJournalDays) << "the journal's bound untouched";
  EXPECT_TRUE(SetAlarmBeep(Current(), true).Texts().isEmpty());
  EXPECT_EQ(Current().Alarms()->ComponentCount(), 1) << "one JOURNAL node";
}

TEST_F(AlarmLimitsTest, TheJournalExportsAsTabSeparatedCp1251WithCrLf) {
  TAlarmEvent raised;
  raised.Time = 46366.5;
  raised.Name = kName;
  raised.Caption = QStringLiteral("Температура\tкотла");
  raised.Condition = TAlarmCondition::HiHi;
  raised.Kind = TAlarmEventKind::Raised;
  raised.Value = 97.5;
  raised.Priority = 1;
  TAlarmEvent acked = raised;
  acked.Kind = TAlarmEventKind::Acknowledged;
  acked.Who = kWhoProgram;
  const QByteArray bytes = JournalExportText({raised, acked});
  const QString text = FromCp1251(bytes);
  const QStringList lines = text.split(QStringLiteral("\r\n"));
  ASSERT_EQ(lines.size(), 4) << text.toStdString();  // the header, two events, the end
  EXPECT_EQ(lines[0], JournalHeaders().join('\t'));
  EXPECT_EQ(lines[1].split('\t').size(), JournalHeaders().size()) << "a tab inside a caption is no column";
  EXPECT_TRUE(lines[1].contains(QStringLiteral("Температура котла (D001C000R001)")));
  EXPECT_TRUE(lines[2].endsWith(QStringLiteral("\tпрограмма"))) << "the stored word in Russian";
  EXPECT_FALSE(text.contains(QRegularExpression(QStringLiteral("[^\r]\n"))));
  EXPECT_EQ(bytes, ToCp1251(text)) << "one byte per Cyrillic letter";
  EXPECT_LT(bytes.size(), text.toUtf8().size());
}

}  // namespace
}  // namespace vexa::test
