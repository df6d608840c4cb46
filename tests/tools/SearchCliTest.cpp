// vexa-cli search on the simulated network and on vexa-sim's line, with channel templates saved
// beforehand so it is quick: the three modes, their counters and a search interrupted half-way.

#include <signal.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <memory>

#include "core/Globals.h"
#include "core/RegisterNode.h"
#include "storage/NetDescription.h"
#include "storage/TreeFiles.h"
#include "support/TestSupport.h"

namespace vexa::test {
namespace {

// vexa-sim on a pseudo-terminal whose link is in a folder of its own; only `addresses` answer.
class TSim {
 public:
  explicit TSim(const QString& addresses) {
    link_ = dir_.filePath(QStringLiteral("line"));
    process_.start(QStringLiteral(VEXA_SIM_PATH), {"--link", link_, "--seed", "3", "--addresses", addresses});
    EXPECT_TRUE(process_.waitForStarted(3000));
    QElapsedTimer t;
    t.start();
    while (!QFileInfo::exists(link_) && t.elapsed() < 3000) QThread::msleep(2);
    EXPECT_TRUE(QFileInfo::exists(link_)) << process_.readAllStandardError().toStdString();
  }
  ~TSim() {
    process_.terminate();
    if (!process_.waitForFinished(3000)) process_.kill();
  }
  const QString& Link() const { return link_; }

 private:
  QTemporaryDir dir_;
  QString link_;
  QProcess process_;
};

class SearchCliTest : public TVexaTest {
 protected:
  TRun Cli(const QStringList& args) { return Run(QStringList{"--demo"} + args); }
  // The search on vexa-sim's line, over the first four addresses only: a silent address costs
  // three full attempts.
  TRun OnLine(const TSim& sim, const QStringList& args) {
    return Run(QStringList{"--port", sim.Link(), "search", "--last", "3", "--save"} + args);
  }
  TRun Run(const QStringList& args) {
    TRunOptions options;
    options.WorkDir = Dir->path();
    return RunProgram(QStringLiteral(VEXA_CLI_PATH), QStringList{"--dir", Dir->path()} + args, options);
  }

  // The regulators of the saved network, in order.
  static QStringList SavedRegulators() {
    RecreateRoot("NET");
    LoadTreeFile(NET);
    QStringList names;
    for (int i = 0; i < NET->NodeCount(); ++i) names << NET->Node(i)->Name();
    return names;
  }

  void AddTemplate(const QString& caption, const QString& comments, const QStringList& registers,
                   TRegisterType type) {
    auto* pattern = new TRootNode(REGISTRY.get());
    pattern->SetName(QStringLiteral("T") + caption);
    pattern->SetCaption(caption);
    pattern->SetComments(comments);
    const QStringList all = QStringList{"Регистр-идентификатор"} + registers;
    for (int k = 0; k < all.size(); ++k) {
      auto* reg = new TRegisterNode(pattern);
      reg->SetName(QStringLiteral("R%1").arg(k));
      reg->SetCaption(all[k]);
      reg->SetRegisterType(k == 0 ? rtBYTE : type);
      reg->SetVisible(k != 0);
    }
  }

  void SaveTemplates() {
    QDir(ExeDir()).mkdir("Config");
    AddTemplate("000", "Аналоговый вход", {"Температура", "Уставка"}, rtFLOAT);
    AddTemplate("001", "Дискретный выход", {"Состояние"}, rtBOOL);
    ASSERT_TRUE(SaveTreeFile(*REGISTRY));
  }
};

TEST_F(SearchCliTest, SearchPrintsTheDescriptionAndSavesTheNetwork) {
  SaveTemplates();
  const TRun run = Cli({"search", "--save"});
  ASSERT_EQ(run.Code, 0) << run.Err.toStdString();

  EXPECT_TRUE(
      run.Out.startsWith("Сеть\r\n\r\n\tРегулятор: \"Регулятор 000\"\tСетевой адрес: 000\r\n\r\n"
                         "\t\tКанал: \"Канал 000\"\tТип: Аналоговый вход\r\n\r\n"
                         "\t\t\tРегистр: \"Температура\"\t\tТип: Вещественный\r\n"
                         "\t\t\tРегистр: \"Уставка\"\t\tТип: Вещественный\r\n\r\n"))
      << run.Out.toStdString();
  EXPECT_EQ(run.Out.count("\tКанал: "), 9);
  EXPECT_EQ(run.Out.count("Тип: Аналоговый вход"), 6);
  EXPECT_TRUE(
      run.Out.endsWith("\t\tКанал: \"Канал 002\"\tТип: Дискретный выход\r\n\r\n"
                       "\t\t\tРегистр: \"Состояние\"\t\tТип: Логический\r\n"));
  EXPECT_TRUE(run.Err.contains("адрес 255 из 255")) << run.Err.toStdString();

  // The saved network reads back as the tree that was described.
  ASSERT_TRUE(QFileInfo::exists(ConfigFilePath("NET")));
  RecreateRoot("NET");
  LoadTreeFile(NET);
  EXPECT_EQ(NetworkDescription(*NET), run.Out);
  ASSERT_EQ(NET->NodeCount(), 2);
  EXPECT_EQ(NET->Node(1)->Name(), "D001");
  const auto* identifier = dynamic_cast<TRegisterNode*>(FindNode(NET.get(), "D001C002R000"));
  ASSERT_NE(identifier, nullptr);
  EXPECT_FALSE(identifier->Visible());
  EXPECT_EQ(identifier->ImageIndex(), 40);
}

TEST_F(SearchCliTest, WithoutSaveNothingIsWrittenAndBadArgumentsAreRefused) {
  SaveTemplates();
  const TRun run = Cli({"search"});
  EXPECT_EQ(run.Code, 0) << run.Err.toStdString();
  EXPECT_EQ(run.Out.count("\tРегулятор: "), 2);
  EXPECT_FALSE(QFileInfo::exists(ConfigFilePath("NET")));

  for (const QStringList& args :
       {QStringList{"--sve"}, QStringList{"--mode", "sideways"}, QStringList{"--mode"},
        QStringList{"--last", "256"}, QStringList{"--last", "x"}}) {
    const TRun bad = Cli(QStringList{"search"} + args);
    EXPECT_EQ(bad.Code, 2) << args.join(' ').toStdString();
    EXPECT_TRUE(bad.Err.contains("Usage: vexa-cli"));
  }
}

TEST_F(SearchCliTest, AddedAndRemovedWorkOnTheSavedNetworkAndCountInTheirOwnWay) {
  SaveTemplates();
  ASSERT_EQ(Cli({"search", "--mode", "fresh", "--save"}).Code, 0);
  // The saved network forgot D001 and holds a regulator at 5 that the line does not have.
  ASSERT_EQ(SavedRegulators(), QStringList({"D000", "D001"}));
  NET->RemoveComponent(NET->Node(1)).reset();
  auto* stranger = new TRootNode(NET.get());
  stranger->SetName("D005");
  stranger->SetCaption("Регулятор 005");
  ASSERT_TRUE(SaveTreeFile(*NET));

  const struct {
    QString Mode;
    QString Summary;
    QStringList Saved;
  } steps[] = {
      {"added", "regulators found: 1, regulators: 3, channels: 9", {"D000", "D005", "D001"}},
      {"added", "regulators found: 0, regulators: 3, channels: 9", {"D000", "D005", "D001"}},
      {"removed", "regulators removed: 1, regulators: 2, channels: 9", {"D000", "D001"}},
      {"removed", "regulators removed: 0, regulators: 2, channels: 9", {"D000", "D001"}},
      {"fresh", "regulators found: 2, regulators: 2, channels: 9", {"D000", "D001"}},
  };
  for (const auto& step : steps) {
    SCOPED_TRACE(step.Mode.toStdString() + ": " + step.Summary.toStdString());
    const TRun run = Cli({"search", "--mode", step.Mode, "--save"});
    ASSERT_EQ(run.Code, 0) << run.Err.toStdString();
    EXPECT_TRUE(run.Err.contains(step.Summary)) << run.Err.toStdString();
    EXPECT_EQ(SavedRegulators(), step.Saved);
    EXPECT_EQ(NetworkDescription(*NET), run.Out);
  }
}

TEST_F(SearchCliTest, RegulatorsPluggedInAndOutBetweenSearchesOnALine) {
  SaveTemplates();
  {
    const TSim sim("0");
    const TRun run = OnLine(sim, {"--mode", "fresh"});
    ASSERT_EQ(run.Code, 0) << run.Err.toStdString();
    EXPECT_TRUE(run.Err.contains("адрес 003 из 003")) << run.Err.toStdString();
    EXPECT_TRUE(run.Err.contains("regulators found: 1, regulators: 1, channels: 6")) << run.Err.toStdString();
    EXPECT_EQ(SavedRegulators(), QStringList({"D000"}));
  }
  {
    const TSim sim("0,1");  // a regulator at 1 is plugged in
    const TRun run = OnLine(sim, {"--mode", "added"});
    ASSERT_EQ(run.Code, 0) << run.Err.toStdString();
    EXPECT_TRUE(run.Err.contains("regulators found: 1, regulators: 2, channels: 9")) << run.Err.toStdString();
    EXPECT_EQ(SavedRegulators(), QStringList({"D000", "D001"}));
    const auto* setpoint = FindNode(NET.get(), "D001C002R001");
    ASSERT_NE(setpoint, nullptr);
    EXPECT_EQ(dynamic_cast<const TRootNode*>(setpoint)->Caption(), "Состояние");
  }
  {
    const TSim sim("1");  // and the one at 0 unplugged
    const TRun run = OnLine(sim, {"--mode", "removed"});
    ASSERT_EQ(run.Code, 0) << run.Err.toStdString();
    EXPECT_TRUE(run.Err.contains("regulators removed: 1, regulators: 1, channels: 3"))
        << run.Err.toStdString();
    EXPECT_EQ(SavedRegulators(), QStringList({"D001"}));
  }
}

TEST_F(SearchCliTest, AnInterruptedSearchKeepsTheRegulatorsItCompletedAndSavesNothing) {
  SaveTemplates();
  const TSim sim("0,1");
  QProcess p;
  p.start(QStringLiteral(VEXA_CLI_PATH), {"--dir", Dir->path(), "--port", sim.Link(), "search", "--save"});
  ASSERT_TRUE(p.waitForStarted(3000));
  // Ctrl-C once the probe has moved past both regulators.
  QByteArray err;
  QElapsedTimer t;
  t.start();
  while (!err.contains("адрес 004") && t.elapsed() < 30000) {
    p.waitForReadyRead(100);
    err += p.readAllStandardError();
  }
  ASSERT_TRUE(err.contains("адрес 004")) << err.toStdString();
  ::kill(static_cast<pid_t>(p.processId()), SIGINT);
  ASSERT_TRUE(p.waitForFinished(10000));
  err += p.readAllStandardError();
  const QString out = QString::fromUtf8(p.readAllStandardOutput());

  EXPECT_EQ(p.exitCode(), 1);
  EXPECT_TRUE(err.contains("regulators found: 2, regulators: 2, channels: 9 (stopped)")) << err.toStdString();
  EXPECT_TRUE(err.contains("NET.cfg is not written"));
  EXPECT_FALSE(err.contains("адрес 255"));
  // Both regulators are there whole.
  EXPECT_EQ(out.count("\tРегулятор: "), 2);
  EXPECT_EQ(out.count("\tКанал: "), 9);
  EXPECT_EQ(out.count("Регистр: \"Состояние\""), 3);
  EXPECT_FALSE(QFileInfo::exists(ConfigFilePath("NET")));
}

}  // namespace
}  // namespace vexa::test
