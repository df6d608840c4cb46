// The network state and the report archives in their files.

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <iostream>
#include <map>

#include "alarms/model/AlarmNode.h"
#include "core/ExecuterUnit.h"
#include "core/Network.h"
#include "core/RegisterNode.h"
#include "core/Services.h"
#include "processes/model/CommandNode.h"
#include "reports/model/ReportArchives.h"
#include "reports/model/ReportNode.h"
#include "storage/ArchiveText.h"
#include "storage/CompoundFile.h"
#include "storage/NetworkState.h"
#include "storage/StgHandlerUnit.h"
#include "storage/StrHandlerUnit.h"
#include "storage/TreeFiles.h"
#include "support/TestSupport.h"

namespace vexa {
namespace {

// Every node of a tree as its stream, depth first, so two trees compare as stored.
QByteArrayList Dump(const TComponent& c) {
  QByteArrayList out{WriteComponent(const_cast<TComponent&>(c))};
  for (int i = 0; i < c.ComponentCount(); ++i) out += Dump(*c.Component(i));
  return out;
}

class StateTest : public test::TVexaTest {
 protected:
  void SetUp() override {
    TVexaTest::SetUp();
    QDir(Dir->path()).mkpath("Config");
    QDir(Dir->path()).mkpath("Archives");
    Services().ProgramState = [this](const QString& s) { States << s; };
    Services().BusyCursor = [this](bool busy) { Busy << busy; };
  }
  void TearDown() override {
    Current().StopPoller();
    Services().ProgramState = nullptr;
    Services().BusyCursor = nullptr;
    TVexaTest::TearDown();
  }

  void Fill() {
    int n = 0;
    for (auto* slot : {&Net(), &TTemplates(), &Tasks(), &RTemplates(), &Reports()}) {
      auto* child = new TRootNode(slot->get());
      child->SetName(QStringLiteral("N%1").arg(++n));
      child->SetCaption(QStringLiteral("Узел %1").arg(n));
      auto* reg = new TRegisterNode(child);
      reg->SetName(TCustomRegister::RegisterName(n, 0, 1));
      reg->SetPoints({"07.12.2026 12:00:00"});
      reg->SetDataList({QString::number(n)});
    }
    // A process template and a running process hold command nodes.
    for (auto* slot : {&TTemplates(), &Tasks()}) {
      auto* command = new TCommandNode(static_cast<TRootNode*>((*slot)->Component(0)));
      command->SetName(TCustomRegister::RegisterName(0, 0, 4));
      command->SetDataList({"20", "80", "80", "20"});
      command->SetPoints({"0", "60", "600", "120"});
      command->Reset();
    }
    // Limits on a register and the journal's age bound, in the alarm settings' own file.
    auto* alarm = new TAlarmNode(Current().Alarms().get());
    alarm->SetName(TCustomRegister::RegisterName(1, 0, 1));
    alarm->SetEnabled(true);
    alarm->SetHiEnabled(true);
    alarm->SetHiLimit(72.5);
    alarm->SetDeadband(1.5);
    alarm->SetDelaySeconds(30);
    alarm->SetPriority(1);
    auto* journal = new TAlarmJournalNode(Current().Alarms().get());
    journal->SetName(kJournalNodeName);
    journal->SetKeepDays(90);
    auto* report = new TReportNode(Reports().get());
    report->SetName("R1");
    report->SetHeader({"Смена"});
    Settings()->SetMNames({"p"});
    Settings()->SetAutoSaveInterval(7);
  }

  std::vector<QByteArrayList> DumpAll() {
    std::vector<QByteArrayList> all;
    for (auto* slot : {&Net(), &TTemplates(), &Tasks(), &RTemplates(), &Reports(), &Current().Alarms()})
      all.push_back(Dump(**slot));
    all.push_back(Dump(*Settings()));
    return all;
  }

  QString Config(const QString& name) const { return Dir->filePath("Config/" + name + ".cfg"); }

  QStringList States;
  QList<bool> Busy;
};

TEST_F(StateTest, AllSixRootsRoundTrip) {
  Fill();
  Settings()->SetNewConfig(true);
  EXPECT_NO_FAULTS(SaveNetworkState(Current()));
  EXPECT_FALSE(Settings()->NewConfig());
  EXPECT_EQ(States, (QStringList{"Сохранение состояния сети", "Работа"}));
  EXPECT_EQ(Busy, (QList<bool>{true, false}));
  for (const char* name : {"NET", "TTEMPLATES", "TASKS", "RTEMPLATES", "REPORTS", "ALARMS", "SETUP"})
    EXPECT_TRUE(CompoundFile::IsStorageFile(Config(name))) << name;
  EXPECT_FALSE(QFile::exists(Config("REGISTRY")));
  EXPECT_FALSE(Net()->Changed());

  Settings()->SetNewConfig(false);  // the file still says True: it was saved before the flag was cleared
  const auto saved = DumpAll();
  for (const char* name : {"NET", "TTEMPLATES", "TASKS", "RTEMPLATES", "REPORTS", "ALARMS"})
    Current().RecreateRoot(name);
  Settings() = std::make_unique<TSetupNode>(nullptr);
  const TRootNode* oldNet = Net().get();
  States.clear();
  Busy.clear();
  QStringList captions;
  LoadNetworkStateWithProgress(Current(), [&](const QString& c) { captions << c; });
  EXPECT_NE(Net().get(), oldNet);
  EXPECT_EQ(States, (QStringList{"Чтение состояния сети", "Работа"}));
  EXPECT_EQ(Busy, (QList<bool>{true, false}));
  EXPECT_EQ(captions, (QStringList{"Загрузка структуры сети...", "Загрузка шаблонов процессов...",
                                   "Загрузка процессов...", "Загрузка шаблонов отчетов...",
                                   "Загрузка отчетов...", "Загрузка параметров сети..."}));
  EXPECT_TRUE(Current().PollerRunning());
  EXPECT_TRUE(Settings()->NewConfig());
  Settings()->SetNewConfig(false);
  EXPECT_EQ(DumpAll(), saved);
  EXPECT_EQ(Reports()->Component(1)->ClassName(), "TReportNode");
}

// Registers polled for long, each with a full history of dates and values as the poller keeps
// them, under regulators of 16 registers.
void AddPolledRegisters(TRootNode& net, int count) {
  QStringList times;
  QStringList values;
  for (int i = 0; i < 1200; ++i) {
    times << DateTimeToStr(46363.5 + i / 86400.0);
    values << QString::number(-1234.567 + i, 'f', 3).replace('.', ',');
  }
  TRootNode* regulator = nullptr;
  for (int r = 0; r < count; ++r) {
    if (r % 16 == 0) {
      regulator = new TRootNode(&net);
      regulator->SetName(QStringLiteral("D%1").arg(r / 16 + 1, 3, 10, QLatin1Char('0')));
    }
    auto* reg = new TRegisterNode(regulator);
    reg->SetName(TCustomRegister::RegisterName(r / 16 + 1, 0, r % 16));
    reg->SetCaption(QStringLiteral("Температура зоны %1").arg(r));
    reg->SetRegisterType(rtFLOAT);
    reg->SetDigits(3);
    reg->SetPoints(times);
    reg->SetDataList(values);
  }
}

// The bound leaves room for a plant of 20,000 polled registers with full histories, with no
// warning yet.
TEST_F(StateTest, TheFileBoundHoldsTwentyThousandRegistersWithFullHistories) {
  const auto netSize = [&](int registers) {
    Current().RecreateRoot(QStringLiteral("NET"));
    AddPolledRegisters(*Net(), registers);
    EXPECT_TRUE(SaveTreeFile(Current(), *Net()));
    return QFileInfo(Config("NET")).size();
  };
  const qint64 small = netSize(16);
  const qint64 large = netSize(64);
  const qint64 perRegister = (large - small) / 48;
  std::cout << "bytes per register with a full history: " << perRegister
            << "; 20,000 of them: " << perRegister * 20000 / (1024 * 1024) << " MiB of a bound of "
            << CompoundFile::MaxFileSize() / (1024 * 1024) << " MiB\n";
  EXPECT_GT(perRegister, 1200 * 20) << "the histories were stored";
  EXPECT_LE(small + perRegister * 20000, CompoundFile::WarningFileSize());
}

// Past four fifths of the bound a save still succeeds and says so, naming the file, its size and
// the bound; past the bound it is refused and the old file stays.
TEST_F(StateTest, ASaveNearTheBoundWarnsAndOnePastItIsRefused) {
  AddPolledRegisters(*Net(), 8);
  ASSERT_TRUE(SaveTreeFile(Current(), *Net()));
  const QString path = Config("NET");
  const qint64 size = QFileInfo(path).size();
  const auto near = [&](const QString& text, qint64 bound) {
    EXPECT_TRUE(text.contains(path)) << text.toStdString();
    EXPECT_TRUE(text.contains(FileSizeText(size))) << text.toStdString();
    EXPECT_TRUE(text.contains(FileSizeText(bound))) << text.toStdString();
  };
  {
    const qint64 bound = size * 10 / 9;  // the file at 90 %
    const CompoundFile::TLowerSizeBound lowered(bound);
    QString why;
    QString warning;
    EXPECT_TRUE(SaveTreeFile(Current(), *Net(), &why, &warning)) << why.toStdString();
    near(warning, bound);
    // For the operator once, and at every save they ask for themselves.
    const QList<TFault> told = SaveTreeFileForOperator(Current(), *Net()).Items();
    ASSERT_EQ(told.size(), 1);
    EXPECT_EQ(told[0].Icon, TMsgIcon::Warning);
    near(told[0].Text, bound);
    EXPECT_TRUE(SaveTreeFileForOperator(Current(), *Net()).Empty());
    EXPECT_FALSE(SaveTreeFileForOperator(Current(), *Net(), true).Empty());
    // The state's save tells it as a warning, the files all written.
    const TFaults faults = SaveNetworkState(Current());
    ASSERT_EQ(faults.Items().size(), 1);
    EXPECT_EQ(faults.Items()[0].Icon, TMsgIcon::Warning);
    near(faults.Items()[0].Text, bound);
  }
  {
    // Below four fifths: nothing to tell, and the next warning is told again.
    const CompoundFile::TLowerSizeBound lowered(size * 5 / 4 + 5);
    EXPECT_TRUE(SaveTreeFileForOperator(Current(), *Net()).Empty());
    EXPECT_TRUE(SaveNetworkState(Current()).Empty());
  }
  {
    const CompoundFile::TLowerSizeBound lowered(size * 10 / 9);
    EXPECT_FALSE(SaveTreeFileForOperator(Current(), *Net()).Empty());
  }
  QFile file(path);
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  const QByteArray before = file.readAll();
  file.close();
  auto* reg = static_cast<TRegisterNode*>(Net()->Component(0)->Component(0));
  reg->SetCaption(QStringLiteral("Изменён"));
  const CompoundFile::TLowerSizeBound lowered(size - 1);
  QString why;
  EXPECT_FALSE(SaveTreeFile(Current(), *Net(), &why));
  EXPECT_TRUE(why.contains(path)) << why.toStdString();
  EXPECT_TRUE(why.contains(QStringLiteral("больше допустимых %1").arg(FileSizeText(size - 1))))
      << why.toStdString();
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  EXPECT_EQ(file.readAll(), before);
  EXPECT_TRUE(reg->Changed());
}

TEST_F(StateTest, MissingTasksFileKeepsTheProcesses) {
  Fill();
  EXPECT_NO_FAULTS(SaveNetworkState(Current()));
  ASSERT_TRUE(QFile::remove(Config("TASKS")));
  TRootNode* tasks = Tasks().get();
  TRootNode* net = Net().get();
  auto* extra = new TRootNode(tasks);
  extra->SetName("Running");
  LoadNetworkState(Current());
  EXPECT_EQ(Tasks().get(), tasks);
  EXPECT_EQ(Tasks()->FindComponent("Running"), extra);
  EXPECT_NE(Net().get(), net);
  EXPECT_NE(Net()->FindComponent("N1"), nullptr);
}

// A damaged file keeps its own tree and costs no other: the files after it are read all the same,
// and the failure names the file.
TEST_F(StateTest, MalformedFileFailsTheLoadAfterTheOtherFilesAndTheCleanUp) {
  Fill();
  EXPECT_NO_FAULTS(SaveNetworkState(Current()));
  for (const char* damaged : {"NET", "TASKS"}) {
    SCOPED_TRACE(damaged);
    // The file's root object names a class nobody knows.
    auto file = CompoundFile::Open(Config(damaged));
    ASSERT_TRUE(file);
    file->Root().Stream("Object") = QByteArray("TPF0\x07TUnkown\x00\x00\x00", 13);
    ASSERT_TRUE(file->Save(Config(damaged)));
    std::map<QString, TRootNode*> before;
    for (const TRootInfo& root : Roots())
      if (root.InNetworkState) before[QString::fromUtf8(root.Name)] = Current().Root(root.Id).get();
    TSetupNode* setup = Settings().get();
    States.clear();
    try {
      LoadNetworkState(Current());
      ADD_FAILURE() << "no error";
    } catch (const EStreamError& e) {
      EXPECT_TRUE(e.Message().contains(Config(damaged))) << e.Message().toStdString();
    }
    for (const TRootInfo& root : Roots()) {
      if (!root.InNetworkState) continue;
      const QString name = QString::fromUtf8(root.Name);
      const TRootNode* now = Current().Root(root.Id).get();
      const TRootNode* tree = before[name];
      if (name == QLatin1String(damaged)) {
        EXPECT_EQ(now, tree) << "the damaged file's tree stays";
      } else {
        EXPECT_NE(now, tree) << name.toStdString() << " was read all the same";
      }
    }
    EXPECT_NE(Settings().get(), setup) << "and the settings";
    EXPECT_NO_FAULTS(SaveNetworkState(Current()));
  }
  EXPECT_EQ(States.last(), "Работа");
  EXPECT_EQ(Busy.last(), false);
  EXPECT_TRUE(Current().PollerRunning());
}

TEST_F(StateTest, FileHoldingAnotherClassIsRefused) {
  TRootNode impostor(nullptr);
  impostor.SetName("SETUP");
  ASSERT_TRUE(TStgHandler::Create(Config("SETUP"))->SaveTree(impostor));
  TSetupNode* setup = Settings().get();
  EXPECT_THROW(LoadTreeFile(Current(), Settings()), EStreamError);
  EXPECT_EQ(Settings().get(), setup);
}

TEST_F(StateTest, NewConfigWritesAFreshFileInsteadOfUpdating) {
  Net()->SetComments(QString(300, 'c'));  // a long stream that a shorter one overwrites in place
  for (int i = 0; i < 4; ++i) new TRootNode(Net().get());
  ASSERT_TRUE(SaveTreeFile(Current(), *Net()));
  Net()->SetComments("");
  Net()->DestroyComponents();
  new TRootNode(Net().get());
  const qsizetype streamSize = WriteComponent(*Net()).size();

  Settings()->SetNewConfig(false);
  ASSERT_TRUE(SaveTreeFile(Current(), *Net()));
  auto updated = CompoundFile::Open(Config("NET"));
  ASSERT_TRUE(updated);
  EXPECT_GT(updated->Root().Stream("Object").size(), streamSize);  // old bytes behind the end
  EXPECT_EQ(updated->Root().StorageNames(), QStringList{"000"});   // surplus removed

  Settings()->SetNewConfig(true);
  ASSERT_TRUE(SaveTreeFile(Current(), *Net()));
  auto fresh = CompoundFile::Open(Config("NET"));
  ASSERT_TRUE(fresh);
  EXPECT_EQ(fresh->Root().Stream("Object").size(), streamSize);
  EXPECT_EQ(fresh->Root().StorageNames(), QStringList{"000"});
}

TEST_F(StateTest, NewConfigIsClearedEvenWhenNothingCouldBeSaved) {
  QDir(Dir->filePath("Config")).removeRecursively();
  Settings()->SetNewConfig(true);
  EXPECT_THROW(SaveNetworkState(Current()), ESaveFailed);  // after the clean-up below
  EXPECT_FALSE(Settings()->NewConfig());
  EXPECT_EQ(States, (QStringList{"Сохранение состояния сети", "Работа"}));
  EXPECT_FALSE(QFile::exists(Config("NET")));
  EXPECT_TRUE(Net()->Changed());  // nothing reached a file
}

TEST_F(StateTest, ArchiveName) {
  const double start = 46363 + (9 * 60 + 5) / 1440.0;  // 07.12.2026 09:05
  EXPECT_EQ(ArchiveName("Oven.2", start), "Oven_2_07_12_2026_0905");
  EXPECT_EQ(ArchiveName(QStringLiteral("Печь 1. Зона"), start),
            QStringLiteral("Печь_1__Зона_07_12_2026_0905"));
  EXPECT_EQ(ArchiveName("a/b", 46363.999), "a_b_07_12_2026_2358");
  EXPECT_EQ(ArchiveName("x", 46364 - 0.1 / 86400000), "x_08_12_2026_0000");  // rounds like the clock
}

TEST_F(StateTest, ArchiveSavedTwiceIsOneFileAndLoadsBack) {
  auto report = std::make_unique<TReportNode>(nullptr);
  report->SetName("R1");
  report->SetStartPoint(46363.5);
  report->SetFooter({"f"});
  for (int i = 0; i < 2; ++i) {
    auto* reg = new TRegisterNode(report.get());
    reg->SetName(TCustomRegister::RegisterName(0, 0, i));
    reg->SetCaption(QStringLiteral("Сеть\\D000\\R%1").arg(i));
    reg->SetPoints({"07.12.2026 12:00:00", "07.12.2026 12:00:01"});
    reg->SetDataList({"1", "2"});
  }
  report->SetCaption(ArchiveName("Oven.2", report->StartPoint()));
  ASSERT_TRUE(SaveArchive(Current().Dir(), *report));
  ASSERT_TRUE(SaveArchive(Current().Dir(), *report));
  EXPECT_EQ(QDir(Dir->filePath("Archives")).entryList(QDir::Files), QStringList{"Oven_2_07_12_2026_1200"});
  EXPECT_EQ(States, (QStringList{"Сохранение архива", "Работа", "Сохранение архива", "Работа"}));

  auto loaded = std::make_unique<TReportNode>(nullptr);
  loaded->SetCaption("Oven_2_07_12_2026_1200");
  LoadArchive(Current().Dir(), loaded);
  EXPECT_EQ(Dump(*loaded), Dump(*report));

  auto missing = std::make_unique<TReportNode>(nullptr);
  missing->SetCaption("nothing");
  TReportNode* before = missing.get();
  LoadArchive(Current().Dir(), missing);
  EXPECT_EQ(missing.get(), before);

  report->SetCaption("../escape");
  EXPECT_FALSE(SaveArchive(Current().Dir(), *report));
  EXPECT_FALSE(QFile::exists(Dir->filePath("escape")));
}

TEST_F(StateTest, ArchiveText) {
  TReportNode report(nullptr);
  for (int r = 0; r < 3; ++r) {
    auto* reg = new TRegisterNode(&report);
    reg->SetCaption(QStringLiteral("Р%1").arg(r));
    QStringList points, data;
    for (int k = 0; k < 10; ++k) {
      points << QStringLiteral("07.12.2026 12:00:%1").arg(k, 2, 10, QLatin1Char('0'));
      data << QString::number(r * 100 + k);
    }
    reg->SetPoints(points);
    reg->SetDataList(r == 2 ? data.mid(0, 8) : data);  // the third logged two readings fewer
  }
  const QByteArray text = ArchiveText(report);
  const QList<QByteArray> lines = text.split('\n');
  ASSERT_EQ(lines.size(), 12);  // 11 lines, each ended by CR LF
  EXPECT_TRUE(lines.last().isEmpty());
  EXPECT_EQ(lines[0], QByteArray("\xC4\xE0\xF2\xE0 \xE8 \xE2\xF0\xE5\xEC\xFF\t\xD0"
                                 "0\t\xD0"
                                 "1\t\xD0"
                                 "2\r"));
  EXPECT_EQ(lines[1], QByteArray("07.12.2026 12:00:00\t0\t100\t200\r"));
  EXPECT_EQ(lines[10], QByteArray("07.12.2026 12:00:09\t9\t109\t\r"));
  for (int k = 1; k <= 10; ++k) EXPECT_EQ(lines[k].count('\t'), 3);

  TReportNode empty(nullptr);
  EXPECT_EQ(ArchiveText(empty), QByteArray("\xC4\xE0\xF2\xE0 \xE8 \xE2\xF0\xE5\xEC\xFF\r\n"));
}

}  // namespace
}  // namespace vexa
